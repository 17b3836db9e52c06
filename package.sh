#!/usr/bin/env bash
# Installs what is missing and builds the Debian package of the game into dist/: the source
# package (.dsc and .tar.xz) and, built from it, the one binary package (.deb). The build runs in
# a temporary folder, so that nothing of it is left in the tree or beside it.
# With "windows": the Windows packages instead, a zip and a setup program (scripts/windows/).
set -euo pipefail
cd "$(dirname "$0")"
if [ "${1:-}" = windows ]; then
    exec scripts/windows/package.sh
fi
scripts/install-deps.sh package

work=$(mktemp -d)
# Interrupted, the build's processes get the signal too. The removal is not interrupted by a
# second signal (a time limit sends its signal to the child and then to the whole group).
trap 'trap "" INT TERM HUP; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
version=$(dpkg-parsechangelog -SVersion)
# The copy leaves out the big build folders; what else stays out of the source package is in
# debian/source/options.
mkdir "$work/fiveinarow-$version"
tar -c --anchored --exclude=./.git --exclude='./build*' --exclude=./dist --exclude=./fuzz-out . |
    tar -x -C "$work/fiveinarow-$version"
(cd "$work" && dpkg-source -b "fiveinarow-$version")

# The binary package is built from exactly what the source package holds. Only the game's
# package: no separate package of debugging symbols.
(cd "$work" && dpkg-source --no-check -x "fiveinarow_$version.dsc" unpacked)
(cd "$work/unpacked" &&
    DEB_BUILD_OPTIONS="noautodbgsym ${DEB_BUILD_OPTIONS:-}" dpkg-buildpackage -us -uc -b)

rm -rf dist
mkdir dist
mv "$work"/*.deb "$work/fiveinarow_$version.dsc" "$work/fiveinarow_$version.tar.xz" dist/
echo "Built: $(ls dist/*)"
