#!/usr/bin/env bash
# Builds the graphics library (Allegro 4.4) for 64-bit Windows, once: a static library with its
# headers in the cache (see env.sh), made from Debian's own source package of the library with
# the project's patch (allegro-wine.patch) applied. Later runs find it there; a changed patch
# builds a new one. Prints the library's folder on its last line.
set -euo pipefail
# shellcheck source=env.sh
source "$(dirname "$0")/env.sh"
# shellcheck source=debian-source.sh
source "$windows_dir/debian-source.sh"

build() {
    local work=$1 tarball
    tarball=$(fetch_source "$work" "$work/apt" allegro4.4)
    mkdir "$work/src"
    tar -xf "$tarball" -C "$work/src" --strip-components=1
    patch -d "$work/src" -p1 --quiet <"$patch_file"

    echo "Building the graphics library for Windows (a few minutes)" >&2
    cross_build "$work" "$work/src" -DSHARED=OFF -DWANT_ALLEGROGL=OFF -DWANT_LOADPNG=OFF \
        -DWANT_LOGG=OFF -DWANT_JPGALLEG=OFF -DWANT_EXAMPLES=OFF -DWANT_TOOLS=OFF -DWANT_TESTS=OFF \
        -DWANT_DOCS=OFF
    # Its licence, which goes with every program that has the library inside.
    mkdir -p "$work/install/share/doc/allegro"
    cp "$work/src/docs/txt/license.txt" "$work/install/share/doc/allegro/"
}

with_cache_lock build_once "$allegro_prefix" lib/liballeg.a build
echo "$allegro_prefix"
