#!/usr/bin/env bash
# Installs what is missing and builds the Debian package of the game into dist/ (one .deb).
# The build runs in a copy of the sources, so that nothing of it is left in the tree or beside it.
# With "windows": the Windows packages instead, a zip and a setup program (scripts/windows/).
set -euo pipefail
cd "$(dirname "$0")"
if [ "${1:-}" = windows ]; then
    exec scripts/windows/package.sh
fi
scripts/install-deps.sh package

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/fiveinarow"
tar -c --anchored --exclude=./.git --exclude='./build*' --exclude=./dist --exclude=./fuzz-out . |
    tar -x -C "$work/fiveinarow"

# Only the game's package: no separate package of debugging symbols.
(cd "$work/fiveinarow" &&
    DEB_BUILD_OPTIONS="noautodbgsym ${DEB_BUILD_OPTIONS:-}" dpkg-buildpackage -us -uc -b)

rm -rf dist
mkdir dist
mv "$work"/*.deb dist/
echo "Built: $(ls dist/*.deb)"
