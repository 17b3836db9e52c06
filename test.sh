#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit, peer-link and window tests,
# ./run.sh on a fresh Debian root (it must show the game's window), the Debian package (built,
# checked, installed, started and purged again in a throwaway root), the unit and peer-link tests
# again under AddressSanitizer/UndefinedBehaviorSanitizer and the peer-link tests under
# ThreadSanitizer, the fuzz corpus, the formatting check, and the Windows build's tests under
# wine. Prints how long each step took, and the whole.
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

# The steps that need little of the machine or one core only: the fresh-machine run and the
# package (mostly single-threaded: apt, dpkg, lintian, a package build without parallelism), the
# fuzzing run, and the Windows tests (mostly waiting for wine). They run beside the others, in
# their own process group, with their output in a log shown at the end.
background_steps() {
    step fresh-machine tests/fresh/check-fresh-run.sh
    # The unit tests run in the other lane: not again in the package's build.
    DEB_BUILD_OPTIONS=nocheck step package tests/package/check-package.sh
    # The listener's message reader: the committed fuzz corpus, then a short fuzzing run.
    FUZZ_SECONDS=45 step fuzz scripts/fuzz.sh build-fuzz
    # The Windows build under wine: its unit tests, its exit, its setup program, and network
    # games against the Linux build (scripts/windows/test.sh; those of the game's ports in
    # namespaces of their own). It takes the Linux game from build/, built by now.
    step Windows scripts/windows/test.sh
}

if [ "${1:-}" = quick ]; then
    scripts/install-deps.sh test
else
    scripts/install-deps.sh test windows
fi
step build scripts/build.sh build -DBUILD_TESTING=ON
if [ "${1:-}" = quick ]; then
    step "unit and peer-link tests" ctest --test-dir build --output-on-failure -j2 -L 'unit|peer'
    echo "Quick tests passed."
    exit 0
fi
step format scripts/check-format.sh

log=$(mktemp)
background=""
# shellcheck disable=SC2317 # called by the trap
stop_background() {
    local status=$?
    set +e
    trap - EXIT INT TERM HUP
    if [ -n "$background" ] && kill -TERM -- -"$background" 2>/dev/null; then
        wait "$background" 2>/dev/null
        tail -n 60 "$log"
    fi
    rm -f "$log"
    echo "test.sh: $((SECONDS - started)) s in all"
    exit "$status"
}
trap stop_background EXIT
trap 'exit 1' INT TERM HUP
set -m # the background steps in a process group of their own, so that they can all be stopped
background_steps >"$log" 2>&1 &
background=$!
set +m

step "unit, peer-link and window tests" ctest --test-dir build --output-on-failure -j2

# Leaks fail the tests too; tests/lsan.supp says what of the graphics library's own is let pass.
# The slow unwinder reaches through the library's frames, so that a leaked picture's report names
# the code of ours that made it.
# The sanitizer builds make only the tests they run: no window tests, no benchmarks.
step "AddressSanitizer build" scripts/build.sh build-asan -DSANITIZE=address,undefined \
    -DFIVEINAROW_TESTS='unit;peer' -DFIVEINAROW_BENCHMARKS=OFF
ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    step "AddressSanitizer tests" ctest --test-dir build-asan --output-on-failure -j2 -L 'unit|peer'

# The peer link's two threads under ThreadSanitizer; only the graphics library's own reports are
# suppressed (tests/tsan.supp).
step "ThreadSanitizer build" scripts/build.sh build-tsan -DSANITIZE=thread -DFIVEINAROW_TESTS=peer \
    -DFIVEINAROW_BENCHMARKS=OFF
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1" \
    step "ThreadSanitizer tests" ctest --test-dir build-tsan --output-on-failure -j2 -L peer

echo "-- waiting for: fresh-machine, package, fuzz, Windows"
status=0
wait "$background" || status=$?
background=""
cat "$log"
[ $status -eq 0 ] || { echo "FAILED: fresh-machine, package, fuzz or Windows (see above)" >&2 && exit 1; }
echo "All tests passed."
