#!/usr/bin/env bash
# Builds GoogleTest for 64-bit Windows, once, from Debian's copy of its source (/usr/src/googletest,
# package googletest) into the cache (see env.sh), for unit tests that run under wine. Prints the
# folder it is installed in on its last line.
set -euo pipefail
# shellcheck source=env.sh
source "$(dirname "$0")/env.sh"

build() {
    if [ -f "$gtest_prefix/lib/libgtest.a" ]; then
        return
    fi
    local work
    work=$(mktemp -d "$cache/googletest-build.XXXXXX")
    # shellcheck disable=SC2064
    trap "rm -rf '$work'" EXIT
    echo "Building GoogleTest for Windows" >&2
    cross_build "$work" /usr/src/googletest -DBUILD_GMOCK=OFF
    mv "$work/install" "$gtest_prefix"
    rm -rf "$work"
    trap - EXIT
}

with_cache_lock build
echo "$gtest_prefix"
