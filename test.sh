#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit, peer-link and window tests,
# ./run.sh on a fresh Debian root (it must show the game's window), the Debian package (built,
# checked, installed, started and purged again in a throwaway root), then the unit and peer-link
# tests again under AddressSanitizer/UndefinedBehaviorSanitizer and the peer-link tests under
# ThreadSanitizer, the fuzz corpus, and the formatting check; last, the Windows build's tests
# under wine. Prints how long each step took, and the whole.
# "./test.sh quick": only the build and the unit and peer-link tests, for the edit-compile-test
# loop.
set -euo pipefail
cd "$(dirname "$0")"
started=$SECONDS
trap 'echo "test.sh: $((SECONDS - started)) s in all"' EXIT

# Runs "$@" as the step named $1, and says how long it took.
step() {
    local name=$1 from=$SECONDS
    shift
    "$@"
    echo "-- $name: $((SECONDS - from)) s"
}

scripts/install-deps.sh test
step build scripts/build.sh build -DBUILD_TESTING=ON
if [ "${1:-}" = quick ]; then
    step "unit and peer-link tests" ctest --test-dir build --output-on-failure -j2 -L 'unit|peer'
    echo "Quick tests passed."
    exit 0
fi

step format scripts/check-format.sh
step "unit, peer-link and window tests" ctest --test-dir build --output-on-failure -j2

step fresh-machine tests/fresh/check-fresh-run.sh

# The unit tests ran above: not again in the package's build.
DEB_BUILD_OPTIONS=nocheck step package tests/package/check-package.sh

# Leaks fail the tests too; tests/lsan.supp says what of the graphics library's own is let pass.
# The slow unwinder reaches through the library's frames, so that a leaked picture's report names
# the code of ours that made it.
step "AddressSanitizer build" scripts/build.sh build-asan -DSANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    step "AddressSanitizer tests" ctest --test-dir build-asan --output-on-failure -j2 -L 'unit|peer'

# The peer link's two threads under ThreadSanitizer; only the graphics library's own reports are
# suppressed (tests/tsan.supp).
step "ThreadSanitizer build" scripts/build.sh build-tsan -DSANITIZE=thread
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1" \
    step "ThreadSanitizer tests" ctest --test-dir build-tsan --output-on-failure -j2 -L peer

# The listener's message reader: the committed fuzz corpus, then a short fuzzing run.
FUZZ_SECONDS=45 step fuzz scripts/fuzz.sh build-fuzz

# The Windows build under wine: its unit tests, its exit, its setup program, and network games
# against the Linux build (scripts/windows/test.sh; one test at a time, those of the game's ports
# in namespaces of their own).
step Windows scripts/windows/test.sh

echo "All tests passed."
