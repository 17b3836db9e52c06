#!/usr/bin/env bash
# Cross-builds the Windows programs into the folder $1 (default build-windows/): the graphics
# library, GoogleTest and miniupnpc for Windows first (once, into the cache), the picture
# generator for this machine (it draws the icon) into $1/host, then the Windows build into
# $1/cross. Further arguments go to the Windows build's cmake.
set -euo pipefail
# shellcheck source=env.sh
source "$(dirname "$0")/env.sh"
cd "$root"
dir=$(realpath -m "${1:-build-windows}")
shift || true

allegro=$("$windows_dir/allegro.sh" | tail -n 1)
gtest=$("$windows_dir/gtest.sh" | tail -n 1)
miniupnpc=$("$windows_dir/miniupnpc.sh" | tail -n 1)

scripts/build.sh "$dir/host" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF --target make_pictures \
    >/dev/null

# Unit tests run under wine in a prefix of the build's own (tests/window/wine.py makes it).
emulator="$(command -v python3);-B;$root/tests/window/wine.py;run;--prefix;$dir/cross/wineprefix"
cmake -S . -B "$dir/cross" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_FIND_ROOT_PATH="$allegro;$gtest;$miniupnpc" \
    -DFIVEINAROW_HOST_MAKE_PICTURES="$dir/host/make_pictures" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" "$@" >/dev/null
cmake --build "$dir/cross"
