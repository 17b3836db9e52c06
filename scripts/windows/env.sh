# Sourced by the Windows build scripts: where they keep what they build once and reuse, and the
# cross tools. Not executable on its own.
# shellcheck shell=bash

# A failure inside $(...) fails the script too.
shopt -s inherit_errexit

windows_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$windows_dir/../.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/fiveinarow
toolchain=$root/cmake/mingw-w64.cmake
patch_file=$windows_dir/allegro-wine.patch
# A changed patch (or a changed way of building) makes a library of its own.
allegro_key=$(cat "$patch_file" "$windows_dir/allegro.sh" "$windows_dir/env.sh" "$toolchain" |
    sha256sum | cut -c1-12)
allegro_prefix=$cache/allegro-4.4-$allegro_key-mingw64
gtest_key=$(cat "$windows_dir/gtest.sh" "$windows_dir/env.sh" "$toolchain" | sha256sum |
    cut -c1-12)
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

# Makes the cache folder $1 once, unless it holds the file $2: runs the function $3 with a scratch
# folder, which it leaves holding an install/ folder, and moves that into place. The scratch folder
# goes whatever happens. Run it holding the cache's lock.
build_once() {
    local prefix=$1 marker=$2 step=$3
    if [ -f "$prefix/$marker" ]; then
        return
    fi
    local work
    work=$(mktemp -d "$cache/$(basename "$prefix").build.XXXXXX")
    # shellcheck disable=SC2064
    trap "rm -rf '$work'" EXIT
    "$step" "$work"
    mv "$work/install" "$prefix"
    rm -rf "$work"
    trap - EXIT
}

# Cross-builds the CMake project in the folder $2 (further arguments go to its cmake) in the
# scratch folder $1 and installs it into $1/install; shows the log of a step that fails.
cross_build() {
    local work=$1 source=$2
    shift 2
    cmake -S "$source" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$work/install" "$@" \
        >"$work/configure.log" 2>&1 || {
        cat "$work/configure.log" >&2
        return 1
    }
    cmake --build "$work/build" >"$work/build.log" 2>&1 || {
        tail -n 50 "$work/build.log" >&2
        return 1
    }
    cmake --install "$work/build" >/dev/null
}
