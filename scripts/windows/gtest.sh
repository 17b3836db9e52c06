#!/usr/bin/env bash
# Builds GoogleTest for 64-bit Windows, once, from Debian's copy of its source (/usr/src/googletest,
# package googletest) into the cache (see env.sh), for unit tests that run under wine. Prints the
# folder it is installed in on its last line.
set -euo pipefail
# shellcheck source=env.sh
source "$(dirname "$0")/env.sh"

build() {
    echo "Building GoogleTest for Windows" >&2
    cross_build "$1" /usr/src/googletest -DBUILD_GMOCK=OFF
}

with_cache_lock build_once "$gtest_prefix" lib/libgtest.a build
echo "$gtest_prefix"
