#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit, peer-link and window tests,
# the Debian package (built, checked, installed, started and purged again in a throwaway root),
# then the unit and peer-link tests again under AddressSanitizer/UndefinedBehaviorSanitizer and
# the peer-link tests under ThreadSanitizer, the fuzz corpus, and the formatting check.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh test

scripts/check-format.sh

scripts/build.sh build
ctest --test-dir build --output-on-failure -j2

tests/package/check-package.sh

scripts/build.sh build-asan -DSANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j2 -L 'unit|peer'

# The peer link's two threads under ThreadSanitizer; only the graphics library's own reports are
# suppressed (tests/tsan.supp).
scripts/build.sh build-tsan -DSANITIZE=thread
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1" \
    ctest --test-dir build-tsan --output-on-failure -j2 -L peer

# The listener's message reader: the committed fuzz corpus, then a short fuzzing run.
FUZZ_SECONDS=45 scripts/fuzz.sh build-fuzz

echo "All tests passed."
