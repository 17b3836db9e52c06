#!/usr/bin/env bash
# Fuzzes the program's readers of what the network sends: the listener's message reader and the
# discovery's datagram reader. Builds their libFuzzer targets with clang (address and
# undefined-behaviour sanitizers on), replays each committed corpus, then fuzzes from it, the
# listener's for FUZZ_SECONDS (default 45), the discovery's for a third of that. New inputs go to a
# scratch folder; a crash leaves its input in fuzz-out/. Usage: scripts/fuzz.sh [build folder,
# default build-fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-45}

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DFIVEINAROW_FUZZ=ON -DSANITIZE=address,undefined,fuzzer-no-link >/dev/null
cmake --build "$dir" --target listener_fuzzer discovery_fuzzer

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p fuzz-out

# fuzz TARGET CORPUS SECONDS MAX_LEN
fuzz() {
    local fuzzer="$dir/tests/fuzz/$1"
    echo "Replaying the corpus of $1"
    "$fuzzer" -runs=0 "$2"/*
    echo "Fuzzing $1 for $3 s"
    mkdir -p "$scratch/$1"
    "$fuzzer" -max_total_time="$3" -max_len="$4" -timeout=10 -print_final_stats=1 \
        -artifact_prefix=fuzz-out/ "$scratch/$1" "$2"
}

fuzz listener_fuzzer tests/fuzz/corpus "$seconds" 8192
fuzz discovery_fuzzer tests/fuzz/discovery_corpus $((seconds / 3 > 0 ? seconds / 3 : 1)) 256
