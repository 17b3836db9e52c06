#!/usr/bin/env bash
# Builds miniupnpc (UPnP-IGD, with which the game asks the router to forward its port) for 64-bit
# Windows, once: a static library with its headers in the cache (see env.sh), made from Debian's
# source package of it. Later runs find it there. Prints the library's folder on its last line.
#
# NAT-PMP's library (libnatpmp) is left out of the Windows build: the package archive this
# machine reaches has no source of it, and the game asks by UPnP alone there.
set -euo pipefail
# shellcheck source=env.sh
source "$(dirname "$0")/env.sh"
# shellcheck source=debian-source.sh
source "$windows_dir/debian-source.sh"

key=$(cat "$windows_dir/miniupnpc.sh" "$windows_dir/env.sh" "$windows_dir/debian-source.sh" \
    "$toolchain" | sha256sum | cut -c1-12)
prefix=$cache/miniupnpc-$key-mingw64

build() {
    local work=$1 tarball
    tarball=$(fetch_source "$work" "$work/apt" miniupnpc)
    mkdir "$work/src"
    tar -xf "$tarball" -C "$work/src" --strip-components=1
    echo "Building miniupnpc for Windows" >&2
    cross_build "$work" "$work/src" -DUPNPC_BUILD_SHARED=OFF -DUPNPC_BUILD_TESTS=OFF \
        -DUPNPC_BUILD_SAMPLE=OFF
    # Its licence, which goes with every program that has the library inside.
    mkdir -p "$work/install/share/doc/miniupnpc"
    cp "$work/src/LICENSE" "$work/install/share/doc/miniupnpc/"
}

with_cache_lock build_once "$prefix" lib/libminiupnpc.a build
echo "$prefix"
