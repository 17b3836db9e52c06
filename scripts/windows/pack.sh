#!/usr/bin/env bash
# Packs the Windows build in $1 (default build-windows/, made by build.sh) into a fresh folder $2
# (default dist/) holding exactly two files: fiveinarow-VERSION-windows-x64.zip (a folder fiveinarow-VERSION with
# the program, its pictures in data\, README.txt and LICENSE.txt) and fiveinarow-VERSION-setup.exe,
# which installs the same files.
set -euo pipefail
# shellcheck source=env.sh
source "$(dirname "$0")/env.sh"
cd "$root"
dir=$(realpath -m "${1:-build-windows}")
out=$(realpath -m "${2:-dist}")
# version and version_numbers (a.b.c.d), from debian/changelog
# shellcheck disable=SC1091
source "$dir/cross/windows_version.sh"
allegro=$allegro_prefix

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=fiveinarow-$version
stage=$work/$name
mkdir -p "$stage/data"
cp "$dir/cross/fiveinarow.exe" "$stage/"
cp data/*.tga "$stage/data/"

# Text files with Windows line ends.
crlf() {
    sed 's/\r*$/\r/'
}
sed "s/@VERSION@/$version/" "$windows_dir/README.txt" | crlf >"$stage/README.txt"
{
    echo "Five in a row"
    echo "============="
    echo
    cat LICENSE
    echo
    echo
    echo "The graphics library: Allegro 4.4"
    echo "================================="
    echo
    echo "fiveinarow.exe holds the Allegro game programming library, version 4.4, built from"
    echo "Debian's source package allegro4.4 with this game's small changes for wine and for a"
    echo "clean exit (scripts/windows/allegro-wine.patch in the game's source). Its licence:"
    echo
    cat "$allegro/share/doc/allegro/license.txt"
    echo
    echo
    echo "The router's port mapping: miniupnpc"
    echo "===================================="
    echo
    echo "fiveinarow.exe holds miniupnpc, with which it asks the router to forward its port,"
    echo "built from Debian's source package miniupnpc. Its licence:"
    echo
    cat "$("$windows_dir/miniupnpc.sh" | tail -n 1)/share/doc/miniupnpc/LICENSE"
    echo
    cat "$windows_dir/runtime-notices.txt"
} | crlf >"$stage/LICENSE.txt"

(cd "$work" && zip -q -r -X -9 "$work/$name-windows-x64.zip" "$name")

# The installer's lists of the same files: what to install, and what to remove (folders last).
{
    echo '!macro InstallFiles'
    (cd "$stage" && find . -type d | sort) | while read -r folder; do
        echo "    SetOutPath \"\$INSTDIR$(tr / '\\' <<<"${folder#.}")\""
        find "$stage/$folder" -maxdepth 1 -type f | sort | sed 's/.*/    File "&"/'
    done
    echo '!macroend'
    echo '!macro UninstallFiles'
    (cd "$stage" && find . -type f | sort) | while read -r file; do
        echo "    Delete \"\$INSTDIR$(tr / '\\' <<<"${file#.}")\""
    done
    (cd "$stage" && find . -mindepth 1 -type d | sort -r) | while read -r folder; do
        echo "    RMDir \"\$INSTDIR$(tr / '\\' <<<"${folder#.}")\""
    done
    echo '!macroend'
} >"$work/files.nsh"

makensis -V2 -NOCD -DVERSION="$version" -DVERSION_NUMBERS="$version_numbers" -DSTAGE="$stage" \
    -DFILES="$work/files.nsh" -DICON="$dir/cross/fiveinarow.ico" \
    -DOUTFILE="$work/$name-setup.exe" "$windows_dir/installer.nsi"

rm -rf "$out"
mkdir -p "$out"
mv "$work/$name-windows-x64.zip" "$work/$name-setup.exe" "$out/"
echo "Built: $out/$name-windows-x64.zip $out/$name-setup.exe"
