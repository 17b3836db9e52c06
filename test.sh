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
# so they run in the foreground, one suite after the other, their output shown as it comes. The
# rest runs beside them in two lanes, their output shown when they end: the builds (the Windows one
# first, then the two sanitizer builds), and the steps that mostly use one core or wait (apt,
# dpkg, lintian, a package build without parallelism, the fuzzing run). Every step with a
# deadline runs at the usual priority, the fresh machine's and the package's included: on a busy
# machine a lane at the lowest priority gets next to nothing, and its deadlines would measure the
# other work. So does the Windows build, which the Windows tests wait for. The sanitizer builds,
# whose tests come last, run a little below it (nice 5: a third of a test's share when both want
# the processor), so that the programs under test come first. Whatever fails ends the run at
# once, with its output: the rest is stopped.
# Runs as an ordinary user; root only installs what is missing (through sudo).
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

one_core_steps() {
    step fresh-machine tests/fresh/check-fresh-run.sh
    # The unit tests ran already: not again in the package's build.
    DEB_BUILD_OPTIONS=nocheck step package tests/package/check-package.sh
    # The network's readers: their committed fuzz corpora, then a short fuzzing run, which looks
    # for new inputs; scripts/fuzz.sh alone fuzzes longer.
    FUZZ_SECONDS=20 step fuzz scripts/fuzz.sh build-fuzz
}

sanitizer_builds() {
    # They make only the tests they run, optimized as the sanitizers' makers advise (-O1): the
    # instrumented code compiles in about half the time it takes at -O2. Their debug information
    # is line tables alone (-g1): a report still names each frame's function, file and line, and
    # the heaviest test sources compile in 60 % of the time full information takes.
    local flags=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO='-O1 -g1 -DNDEBUG' -DFIVEINAROW_BENCHMARKS=OFF)
    step "AddressSanitizer build" scripts/build.sh build-asan -DSANITIZE=address,undefined \
        -DFIVEINAROW_TESTS='unit;peer' "${flags[@]}"
    step "ThreadSanitizer build" scripts/build.sh build-tsan -DSANITIZE=thread \
        -DFIVEINAROW_TESTS=peer "${flags[@]}"
}

sanitizer_tests() {
    # Leaks fail the tests too; tests/lsan.supp says what of the graphics library's own is let
    # pass. The slow unwinder reaches through the library's frames, so that a leaked picture's
    # report names the code of ours that made it.
    ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 \
        LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        step "AddressSanitizer tests" ctest --test-dir build-asan --output-on-failure -j2 \
        -L 'unit|peer'
    # The peer link's two threads under ThreadSanitizer; only the graphics library's own reports
    # are suppressed (tests/tsan.supp).
    TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1" \
        step "ThreadSanitizer tests" ctest --test-dir build-tsan --output-on-failure -j2 -L peer
}

if [ "${1:-}" = quick ]; then
    scripts/install-deps.sh test
    step build scripts/build.sh build -DBUILD_TESTING=ON
    step "unit and peer-link tests" ctest --test-dir build --output-on-failure -j2 -L 'unit|peer'
    echo "Quick tests passed."
    exit 0
fi
# The window tests, the Windows tests and the throwaway roots need private namespaces: a machine
# that refuses them stops the run at once, named with its cause.
scripts/private-network.sh --mount --check
scripts/install-deps.sh test windows
step format scripts/check-format.sh
step build scripts/build.sh build -DBUILD_TESTING=ON

work=$(mktemp -d)
declare -A lanes=() ended=()
# The process $1 and all under it, also those in process groups of their own (timeout makes one).
tree() {
    local child
    echo "$1"
    for child in $(cat /proc/"$1"/task/*/children 2>/dev/null); do
        tree "$child"
    done
}
# shellcheck disable=SC2317 # called by the trap
stop_lanes() {
    local status=$? pid
    set +e
    trap - EXIT INT TERM HUP
    for pid in "${!lanes[@]}"; do
        # shellcheck disable=SC2046 # one process id a word
        kill -TERM $(tree "$pid") 2>/dev/null
        wait "$pid" 2>/dev/null
        echo "-- stopped: ${lanes[$pid]}"
    done
    rm -rf "$work"
    echo "test.sh: $((SECONDS - started)) s in all"
    exit "$status"
}
trap stop_lanes EXIT
trap 'exit 1' INT TERM HUP

# Starts the lane $2 running "${@:3}": in the foreground ($1 = fg: its output shown as it comes),
# or beside it ($1 = bg: its output kept; builds: the same, a little below the usual priority).
start() {
    case $1 in
        fg) "${@:3}" </dev/null & ;;
        bg) "${@:3}" </dev/null >"$work/$2.log" 2>&1 & ;;
        builds) (renice -n 5 "$BASHPID" >/dev/null && "${@:3}") </dev/null >"$work/$2.log" 2>&1 & ;;
    esac
    lanes[$!]=$2
}

start fg "window tests" step "unit, peer-link and window tests" ctest --test-dir build \
    --output-on-failure -j2
start bg "Windows build" step "Windows build" scripts/windows/build.sh build-windows
start bg one-core one_core_steps

# Whether the lane that just ended is $1 or $2, and both have ended: what waited for them starts.
after() {
    { [ "$name" = "$1" ] || [ "$name" = "$2" ]; } &&
        [ -n "${ended[$1]:-}" ] && [ -n "${ended[$2]:-}" ]
}

# Each lane that ends shows its output, and starts what waited for it: the sanitizer builds after
# the Windows build, the Windows build's tests under wine (scripts/windows/test.sh) after it and
# the window tests, then the sanitizer tests.
while [ ${#lanes[@]} -gt 0 ]; do
    status=0
    wait -n -p pid "${!lanes[@]}" || status=$?
    name=${lanes[$pid]}
    unset "lanes[$pid]"
    [ ! -e "$work/$name.log" ] || cat "$work/$name.log"
    [ $status -eq 0 ] || { echo "FAILED: $name (status $status)" >&2 && exit 1; }
    ended[$name]=1
    if [ "$name" = "Windows build" ]; then
        start builds "sanitizer builds" sanitizer_builds
    fi
    if after "window tests" "Windows build"; then
        start fg "Windows tests" step Windows scripts/windows/test.sh
    fi
    if after "Windows tests" "sanitizer builds"; then
        start fg "sanitizer tests" sanitizer_tests
    fi
done
echo "All tests passed."
