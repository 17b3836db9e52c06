#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit, peer-link and window tests,
# ./run.sh on a fresh Debian root (it must show the game's window), the Debian package (built,
# checked, installed, started and purged again in a throwaway root), the unit and peer-link tests
# again under AddressSanitizer/UndefinedBehaviorSanitizer and the peer-link tests under
# ThreadSanitizer, the fuzz corpus, the formatting check, and the Windows build's tests under
# wine. Prints how long each step took, and the whole.
# "./test.sh quick": only the build and the unit and peer-link tests, for the edit-compile-test
# loop.
#
# The window tests and the Windows tests wait for what they see on the screen within deadlines:
# each of the two runs with nothing else of this script beside it. The other steps run in two
# lanes side by side: the builds, which use every core, and the steps that mostly use one core
# or wait (apt, dpkg, lintian, a package build without parallelism, the fuzzing run).
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

# The lane of the steps that mostly use one core or wait.
one_core_steps() {
    step fresh-machine tests/fresh/check-fresh-run.sh
    # The unit tests ran already: not again in the package's build.
    DEB_BUILD_OPTIONS=nocheck step package tests/package/check-package.sh
    # The listener's message reader: the committed fuzz corpus, then a short fuzzing run.
    FUZZ_SECONDS=45 step fuzz scripts/fuzz.sh build-fuzz
}

if [ "${1:-}" = quick ]; then
    scripts/install-deps.sh test
    step build scripts/build.sh build -DBUILD_TESTING=ON
    step "unit and peer-link tests" ctest --test-dir build --output-on-failure -j2 -L 'unit|peer'
    echo "Quick tests passed."
    exit 0
fi
scripts/install-deps.sh test windows
step format scripts/check-format.sh
step build scripts/build.sh build -DBUILD_TESTING=ON
step "unit, peer-link and window tests" ctest --test-dir build --output-on-failure -j2

log=$(mktemp)
lane=""
# shellcheck disable=SC2317 # called by the trap
stop_lane() {
    local status=$?
    set +e
    trap - EXIT INT TERM HUP
    if [ -n "$lane" ]; then
        kill -TERM -- -"$lane" 2>/dev/null
        wait "$lane" 2>/dev/null
        tail -n 60 "$log"
    fi
    rm -f "$log"
    echo "test.sh: $((SECONDS - started)) s in all"
    exit "$status"
}
trap stop_lane EXIT
trap 'exit 1' INT TERM HUP
set -m # the lane in a process group of its own, so that all of it can be stopped
one_core_steps </dev/null >"$log" 2>&1 &
lane=$!
set +m

# Leaks fail the tests too; tests/lsan.supp says what of the graphics library's own is let pass.
# The slow unwinder reaches through the library's frames, so that a leaked picture's report names
# the code of ours that made it. The sanitizer builds make only the tests they run.
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

# The Windows build, for its tests below.
step "Windows build" scripts/windows/build.sh build-windows

echo "-- waiting for the fresh-machine run, the package and the fuzzing run"
status=0
wait "$lane" || status=$?
lane=""
cat "$log"
[ $status -eq 0 ] || { echo "FAILED: the fresh-machine run, the package or the fuzzing run" >&2 && exit 1; }

# The Windows build under wine: its unit tests, its exit, its setup program, and network games
# against the Linux build (scripts/windows/test.sh; those of the game's ports in namespaces of
# their own).
step Windows scripts/windows/test.sh

echo "All tests passed."
