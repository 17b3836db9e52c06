#!/usr/bin/env bash
# Builds the graphics library (Allegro 4.4) for 64-bit Windows, once: a static library with its
# headers in the cache (see env.sh), made from Debian's own source package of the library with
# the project's patch (allegro-wine.patch) applied. Later runs find it there; a changed patch
# builds a new one. Prints the library's folder on its last line.
set -euo pipefail
# shellcheck source=env.sh
source "$(dirname "$0")/env.sh"

# Debian's source package of the library, for the suites this machine installs from: a deb-src
# list of its own in a temporary folder, so that the machine's lists stay as they are.
fetch_source() {
    local dest=$1 apt_dir=$2
    mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial"
    # The same suites as the machine's own sources, in whichever form they are written, as apt
    # itself reads them (disabled entries left out).
    # shellcheck disable=SC2016 # apt's own field names
    apt-get indextargets --format 'deb-src $(REPO_URI) $(RELEASE) $(COMPONENT)' \
        'Identifier: Packages' | sort -u >"$apt_dir/parts/debian.list"
    [ -s "$apt_dir/parts/debian.list" ] || {
        echo "allegro.sh: apt reads no package sources on this machine" >&2
        return 1
    }
    local apt=(apt-get -q -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/parts"
        -o "Dir::State::Lists=$apt_dir/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
        -o APT::Sandbox::User=root)
    "${apt[@]}" update >"$apt_dir/update.log" 2>&1 || {
        cat "$apt_dir/update.log" >&2
        return 1
    }
    # Only the upstream tarball is wanted (the Debian changes are packaging for Linux): its
    # address and checksum come from the signed source index, and apt's own helper fetches it
    # and checks the sum.
    local line uri file hash
    line=$("${apt[@]}" source --print-uris allegro4.4 2>"$apt_dir/source.log" |
        grep "^'.*\.orig\.tar\.[a-z0-9]*' ") || {
        echo "allegro.sh: no upstream tarball of allegro4.4 in this machine's suites" >&2
        cat "$apt_dir/source.log" >&2
        return 1
    }
    read -r uri file _ hash <<<"$line"
    uri=${uri//\'/}
    echo "Fetching $uri" >&2
    /usr/lib/apt/apt-helper -o APT::Sandbox::User=root download-file "$uri" "$dest/$file" "$hash" >&2
    echo "$dest/$file"
}

build() {
    local work=$1 tarball
    tarball=$(fetch_source "$work" "$work/apt")
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
