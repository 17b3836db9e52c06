#!/usr/bin/env bash
# Builds the Debian packages with ./package.sh and checks them: the binary package's files,
# lintian's verdict on it and on the source package (no errors, no warnings), the desktop entry
# and the AppStream metadata. Then it checks the installation in a throwaway Debian root
# (../throwaway-root.sh, with the package's dependencies; check-in-root.sh): installed, started,
# purged. This machine's own packages are never touched, so a fiveinarow installed here stays as
# it is. Needs the network, not root. DEB_BUILD_OPTIONS goes to the package's build (nocheck:
# without its unit tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
fail() {
    echo "FAILED package: $*" >&2
    exit 1
}

# Each long step runs under a time limit, in the background in timeout's own process group, and
# is waited for: Ctrl+C or a signal stops the step's whole group at once, and then the folder goes.
step=""
bounded() {
    local status=0
    timeout -k 30 "$@" &
    step=$!
    wait "$step" || status=$?
    step=""
    return $status
}
work=$(mktemp -d)
cleanup() {
    trap "" INT TERM HUP
    if [ -n "$step" ] && kill -TERM -- -"$step" 2>/dev/null; then wait "$step" || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

bounded 900 ./package.sh >"$work/package.log" 2>&1 ||
    { tail -40 "$work/package.log"; fail "./package.sh failed"; }
debs=(dist/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "dist/ holds ${#debs[@]} packages"
deb=${debs[0]}
version=$(dpkg-parsechangelog -SVersion)
dsc=dist/fiveinarow_$version.dsc
[ -f "$dsc" ] || fail "no source package $dsc"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb is not version $version"

listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ {print substr($6, 2)}' <<<"$listing" | sort)
expected=$( (
    echo /usr/games/fiveinarow
    for p in menu mi_exit mi_local mi_net net_master net_slave ptr; do
        echo "/usr/share/games/fiveinarow/$p.tga"
    done
    echo /usr/share/applications/fiveinarow.desktop
    echo /usr/share/metainfo/fiveinarow.metainfo.xml
    for n in 16 22 24 32 48 64 128 256; do
        echo "/usr/share/icons/hicolor/${n}x$n/apps/fiveinarow.png"
    done
    echo /usr/share/man/man6/fiveinarow.6.gz
    echo /usr/share/doc/fiveinarow/copyright
    echo /usr/share/doc/fiveinarow/changelog.gz
    echo /usr/share/lintian/overrides/fiveinarow
    echo /etc/ufw/applications.d/fiveinarow
) | sort)
[ "$files" = "$expected" ] || fail "files of the package differ: $(diff <(echo "$expected") <(echo "$files"))"
grep -q '^-rwxr-xr-x .* \./usr/games/fiveinarow$' <<<"$listing" || fail "the game is not executable"
# A player's changes to the firewall profile survive an upgrade.
[ "$(dpkg-deb -I "$deb" conffiles)" = /etc/ufw/applications.d/fiveinarow ] ||
    fail "the ufw profile is not the package's one conffile"

echo "lintian (binary package):"
timeout 300 lintian --fail-on error,warning -I --pedantic --show-overrides "$deb" ||
    fail "lintian found errors or warnings in $deb"
echo "lintian (source package):"
timeout 300 lintian --fail-on error,warning -I --pedantic --show-overrides "$dsc" ||
    fail "lintian found errors or warnings in $dsc"

dpkg-deb -x "$deb" "$work/unpacked"
desktop=$work/unpacked/usr/share/applications/fiveinarow.desktop
timeout 60 desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -Eqx 'Categories=(.*;)?Game;.*' "$desktop" || fail "the desktop entry is not in the Game category"
# Docks tie the game's window (its WM_CLASS, see the window tests) to the entry by this class.
grep -qx 'StartupWMClass=fiveinarow' "$desktop" || fail "the desktop entry names no StartupWMClass"

metainfo=$work/unpacked/usr/share/metainfo/fiveinarow.metainfo.xml
timeout 60 appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
# The software centre shows this package's version as the latest release, and starts the game
# through the desktop entry.
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metadata has no release $version"
grep -q '<launchable type="desktop-id">fiveinarow.desktop</launchable>' "$metainfo" ||
    fail "the metadata does not launch fiveinarow.desktop"

# This machine's own fiveinarow, if any, is the same at the end.
host_state() { dpkg-query -W -f='${Status} ${Version}' fiveinarow 2>/dev/null || true; }
host=$(host_state)
[ -z "$host" ] || echo "fiveinarow is installed here ($host): it stays as it is"

# The throwaway root (../throwaway-root.sh): this machine's release from the sources its apt
# uses, with what the package depends on, so that installing it there needs no network; and with
# ufw, which reads the package's application profile.
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/[|(].*//; s/[[:space:]]//g' | paste -sd,)
echo "throwaway root with $depends"
bounded 1000 tests/throwaway-root.sh --name package --include "$depends,ufw" -- \
    "$root/tests/package/check-in-root.sh" "$root/$deb" || fail "in the throwaway root"
[ "$(host_state)" = "$host" ] || fail "fiveinarow on this machine went from '$host' to '$(host_state)'"

echo "passed package ($deb, $dsc)"
