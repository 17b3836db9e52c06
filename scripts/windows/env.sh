# Sourced by the Windows build scripts: where they keep what they build once and reuse, and the
# cross tools. Not executable on its own.
# shellcheck shell=bash

windows_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$windows_dir/../.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/fiveinarow
toolchain=$root/cmake/mingw-w64.cmake
patch_file=$windows_dir/allegro-wine.patch
# A changed patch (or a changed way of building) makes a library of its own.
allegro_key=$(cat "$patch_file" "$windows_dir/allegro.sh" "$toolchain" | sha256sum | cut -c1-12)
allegro_prefix=$cache/allegro-4.4-$allegro_key-mingw64
gtest_key=$(cat "$windows_dir/gtest.sh" "$toolchain" | sha256sum | cut -c1-12)
gtest_prefix=$cache/googletest-$gtest_key-mingw64
# Every build of a run of the scripts uses two cores at most: the machine is shared.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}

# Runs "$@" while holding the cache's lock, so that two runs never build the same thing at once.
with_cache_lock() {
    mkdir -p "$cache"
    (
        flock 9
        "$@"
    ) 9>"$cache/.lock"
}
