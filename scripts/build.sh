#!/usr/bin/env bash
# Configures and builds into the folder $1 (default build/); further arguments go to cmake.
set -euo pipefail
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir"
