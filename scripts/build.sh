#!/usr/bin/env bash
# Configures and builds into the folder $1 (default build/); further arguments go to cmake, but
# "--target NAME" (any number of times) builds only those targets instead of all.
set -euo pipefail
dir=${1:-build}
shift || true
configure=()
targets=()
while [ $# -gt 0 ]; do
    if [ "$1" = --target ] && [ $# -ge 2 ]; then
        targets+=(--target "$2")
        shift 2
    else
        configure+=("$1")
        shift
    fi
done
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${configure[@]}" >/dev/null
cmake --build "$dir" "${targets[@]}"
