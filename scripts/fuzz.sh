#!/usr/bin/env bash
# Fuzzes the listener's message reader: builds its libFuzzer target with clang (address and
# undefined-behaviour sanitizers on), replays the committed corpus, then fuzzes from it for
# FUZZ_SECONDS (default 45). New inputs go to a scratch folder; a crash leaves its input in
# fuzz-out/. Usage: scripts/fuzz.sh [build folder, default build-fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-45}
corpus=tests/fuzz/corpus

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DFIVEINAROW_FUZZ=ON -DSANITIZE=address,undefined,fuzzer-no-link >/dev/null
cmake --build "$dir" --target listener_fuzzer
fuzzer="$dir/tests/fuzz/listener_fuzzer"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

echo "Replaying the corpus"
"$fuzzer" -runs=0 "$corpus"/*

echo "Fuzzing for ${seconds} s"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p fuzz-out
"$fuzzer" -max_total_time="$seconds" -max_len=8192 -timeout=10 -print_final_stats=1 \
    -artifact_prefix=fuzz-out/ "$scratch" "$corpus"
