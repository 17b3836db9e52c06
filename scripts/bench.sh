#!/usr/bin/env bash
# Builds and runs the benchmarks: the data message latency over loopback, then the turn loops in a
# window on a private Xvfb display, then Escape during connects that get no answer, then what the
# waiting screens cost and how soon they answer, beside the game of the revision BASELINE (default
# the last one whose loops never rest) and again with the window enlarged twice, then the games
# listed on a LAN and the port asked of a router between two homes, then the start-up and the
# waiting screens under wine
# (scripts/windows/bench.sh). Prints their figures; asserts nothing.
# Usage: scripts/bench.sh [build folder, default build-bench] [latency messages] [turn loop rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"  # the turn loop bench loads data/ptr.tga from here
dir=${1:-build-bench}
latencyMessages=${2:-10000}
turnRounds=${3:-12}
deadline=300

baseline=${BASELINE:-897594f95991f23273eff93fe469e936ddfb2aa0}
# The last revision whose loops still rest on a timer between the wake-ups they are told of.
timed=${TIMED_BASELINE:-905f4bb7dbc781272038f1c993cae09a3b9fb56c}

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" --target latency_bench turn_loop_bench connect_escape_bench fiveinarow \
    bare_allegro window_text_mask >/dev/null

echo "Machine: $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg) at start"
echo
timeout "$deadline" "$dir/bench/latency_bench" "$latencyMessages"
echo

# Xvfb picks a free display itself and writes its number to descriptor 3 once it accepts clients.
displayFile=$(mktemp)
xvfb=
cleanup() {
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    fi
    rm -f "$displayFile"
}
trap cleanup EXIT
# -noreset: the server must not reset between one benchmark program and the next (a program that
# connects during a reset loses its connection).
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$displayFile" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do
    if [ -s "$displayFile" ] || ! kill -0 "$xvfb" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
display=$(head -n 1 "$displayFile")
if [ -z "$display" ]; then
    echo "bench.sh: Xvfb did not start within 10 s" >&2
    exit 1
fi
DISPLAY=":$display" timeout "$deadline" "$dir/bench/turn_loop_bench" "$turnRounds"
echo

# This one uses the game's fixed ports: in a private network namespace, so that nobody else's
# game or test is touched. It reaches the display above through its socket file.
DISPLAY=":$display" timeout "$deadline" scripts/private-network.sh "$dir/bench/connect_escape_bench"
echo

# The waiting screens, beside the baselines' games built from checkouts of their own. Needs
# nftables and xdotool, as the window tests do.
baselineTree=$(mktemp -d)
trap 'cleanup; for b in busy timed; do git worktree remove --force "$baselineTree/$b" || true; done; rm -rf "$baselineTree"' EXIT
for b in busy timed; do
    rev=$baseline
    [ "$b" = timed ] && rev=$timed
    git worktree add --detach "$baselineTree/$b" "$rev" >/dev/null 2>&1
    cmake -S "$baselineTree/$b" -B "$baselineTree/build-$b" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$baselineTree/build-$b" --target fiveinarow >/dev/null
done
timeout 1800 python3 -B bench/wait_bench.py --data data --text-mask "$dir/tests/window/window_text_mask" \
    --bare "$dir/bench/bare_allegro" --game "paced=$dir/fiveinarow" \
    --game "timed=$baselineTree/build-timed/fiveinarow" \
    --game "busy=$baselineTree/build-busy/fiveinarow"
echo
# The same at factor 2, the window enlarged as on a HiDPI desktop.
timeout 1200 python3 -B bench/wait_bench.py --data data --text-mask "$dir/tests/window/window_text_mask" \
    --bare "$dir/bench/bare_allegro" --game "paced-x2=$dir/fiveinarow" --scale 2
echo

# The games on the network: how soon the slave's prompt lists a master, and what the list costs
# at rest, on a LAN of machines of its own.
timeout 600 python3 -B bench/lan_bench.py "$dir/fiveinarow" --data data \
    --text-mask "$dir/tests/window/window_text_mask" --bare "$dir/bench/bare_allegro"
echo

# Between two homes: how soon the master's waiting screen says that its router opened its port,
# by NAT-PMP and by UPnP alone, and what the wait costs then. Needs miniupnpd and stund.
for ways in natpmp upnp; do
    timeout 300 python3 -B bench/router_bench.py "$dir/fiveinarow" --data data \
        --text-mask "$dir/tests/window/window_text_mask" --bare "$dir/bench/bare_allegro" \
        --ways "$ways"
done
echo

# The start-up of the bare graphics program and of the game on Linux and, built for Windows, under
# wine, and the waiting screens under wine. Needs the mingw-w64 compilers and wine.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
    scripts/windows/bench.sh "$dir"
else
    echo "Windows start-up: skipped (scripts/install-deps.sh windows installs what it needs)"
fi
