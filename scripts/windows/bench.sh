#!/usr/bin/env bash
# Start-up to the first frame of the bare graphics program and of the game, built for Linux (into
# the folder $1, default build-bench/) and for Windows (build-windows/, run under wine), side by
# side (bench/start_bench.py, on a private Xvfb display), and the sizes of the Windows program and
# zip; then what the game costs in its waiting screens under wine, every process of its prefix
# counted, beside the bare program (bench/wait_bench.py). Prints figures; asserts nothing.
# Usage: scripts/windows/bench.sh [build folder] [runs]
set -euo pipefail
# shellcheck source=env.sh
source "$(dirname "$0")/env.sh"
cd "$root"
dir=${1:-build-bench}
runs=${2:-5}

scripts/build.sh "$dir" -DCMAKE_BUILD_TYPE=Release --target bare_allegro --target fiveinarow \
    --target window_text_mask >/dev/null
"$windows_dir/build.sh" build-windows >/dev/null
packed=$(mktemp -d)
trap 'rm -rf "$packed"' EXIT
"$windows_dir/pack.sh" build-windows "$packed" >/dev/null

timeout 900 python3 -B bench/start_bench.py --linux "$dir/bench/bare_allegro" \
    --windows build-windows/cross/bench/bare_allegro.exe --data data --runs "$runs" \
    --linux-game "$dir/fiveinarow" --windows-game build-windows/cross/fiveinarow.exe \
    --exe build-windows/cross/fiveinarow.exe --zip "$(ls "$packed"/*.zip)"

timeout 1800 python3 -B bench/wait_bench.py --data data \
    --text-mask "$dir/tests/window/window_text_mask" \
    --windows-bare build-windows/cross/bare_allegro.exe \
    --windows-game "paced=build-windows/cross/fiveinarow.exe"
