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
# The window tests and the Windows tests wait for what they see on the screen within deadlines,
# so they run in the foreground, one suite after the other. The rest runs beside them in two lanes
# at the lowest priority, which the resting game leaves processors enough for: the builds (the
# Windows one first, then the two sanitizer builds), and the steps that mostly use one core or
# wait (apt, dpkg, lintian, a package build without parallelism, the fuzzing run).
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

# The lane of the builds; $1 is told when the Windows build is there.
builds() {
    step "Windows build" scripts/windows/build.sh build-windows
    : >"$1"
    # The sanitizer builds make only the tests they run.
    step "AddressSanitizer build" scripts/build.sh build-asan -DSANITIZE=address,undefined \
        -DFIVEINAROW_TESTS='unit;peer' -DFIVEINAROW_BENCHMARKS=OFF
    step "ThreadSanitizer build" scripts/build.sh build-tsan -DSANITIZE=thread \
        -DFIVEINAROW_TESTS=peer -DFIVEINAROW_BENCHMARKS=OFF
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

work=$(mktemp -d)
declare -A lanes=()
# shellcheck disable=SC2317 # called by the trap
stop_lanes() {
    local status=$? name
    set +e
    trap - EXIT INT TERM HUP
    for name in "${!lanes[@]}"; do
        kill -TERM -- -"${lanes[$name]}" 2>/dev/null
        wait "${lanes[$name]}" 2>/dev/null
        echo "-- the $name lane, stopped:"
        tail -n 60 "$work/$name.log"
    done
    rm -rf "$work"
    echo "test.sh: $((SECONDS - started)) s in all"
    exit "$status"
}
trap stop_lanes EXIT
trap 'exit 1' INT TERM HUP

# Starts the lane $1 running "${@:2}" in the background, in a process group of its own (so that
# all of it can be stopped) and at the lowest priority.
start_lane() {
    set -m
    (renice -n 19 "$BASHPID" >/dev/null && "${@:2}") </dev/null >"$work/$1.log" 2>&1 &
    lanes[$1]=$!
    set +m
}

# Waits for the lane $1 to end, shows what it wrote, and fails when it failed.
finish_lane() {
    local status=0
    echo "-- waiting for the $1 lane"
    wait "${lanes[$1]}" || status=$?
    unset "lanes[$1]"
    cat "$work/$1.log"
    [ $status -eq 0 ] || { echo "FAILED: the $1 lane" >&2 && exit 1; }
}

start_lane build builds "$work/windows-built"
start_lane one-core one_core_steps

step "unit, peer-link and window tests" ctest --test-dir build --output-on-failure -j2

# The Windows build under wine: its unit tests, its exit, its setup program, and network games
# against the Linux build (scripts/windows/test.sh; those of the game's ports in namespaces of
# their own). It waits for the Windows build, or for the lane that makes it to fail.
while [ ! -e "$work/windows-built" ] && kill -0 "${lanes[build]}" 2>/dev/null; do
    sleep 1
done
[ -e "$work/windows-built" ] || finish_lane build
step Windows scripts/windows/test.sh

finish_lane build
# Leaks fail the tests too; tests/lsan.supp says what of the graphics library's own is let pass.
# The slow unwinder reaches through the library's frames, so that a leaked picture's report names
# the code of ours that made it.
ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    step "AddressSanitizer tests" ctest --test-dir build-asan --output-on-failure -j2 -L 'unit|peer'
# The peer link's two threads under ThreadSanitizer; only the graphics library's own reports are
# suppressed (tests/tsan.supp).
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1" \
    step "ThreadSanitizer tests" ctest --test-dir build-tsan --output-on-failure -j2 -L peer

finish_lane one-core
echo "All tests passed."
