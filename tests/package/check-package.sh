#!/usr/bin/env bash
# Builds the Debian package with ./package.sh and checks it: its files, lintian's verdict (no
# errors, no warnings), the desktop entry; then installs it, starts the installed game as its
# desktop entry does from a folder without pictures (start_installed.py, under Xvfb) and purges
# it, after which none of its files may be left. Installing needs root (or sudo).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
apt=($sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=120 -y -qq)
fail() {
    echo "FAILED package: $*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
timeout 900 ./package.sh >"$work/package.log" 2>&1 ||
    { tail -40 "$work/package.log"; fail "./package.sh failed"; }
debs=(dist/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "dist/ holds ${#debs[@]} packages"
deb=${debs[0]}

listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ {print substr($6, 2)}' <<<"$listing" | sort)
expected=$( (
    echo /usr/games/fiveinarow
    for p in menu mi_exit mi_local mi_net net_master net_slave ptr; do
        echo "/usr/share/games/fiveinarow/$p.tga"
    done
    echo /usr/share/applications/fiveinarow.desktop
    for n in 16 22 24 32 48 64 128 256; do
        echo "/usr/share/icons/hicolor/${n}x$n/apps/fiveinarow.png"
    done
    echo /usr/share/man/man6/fiveinarow.6.gz
    echo /usr/share/doc/fiveinarow/copyright
    echo /usr/share/doc/fiveinarow/changelog.gz
    echo /usr/share/lintian/overrides/fiveinarow
) | sort)
[ "$files" = "$expected" ] || fail "files of the package differ: $(diff <(echo "$expected") <(echo "$files"))"
grep -q '^-rwxr-xr-x .* \./usr/games/fiveinarow$' <<<"$listing" || fail "the game is not executable"

echo "lintian:"
timeout 300 lintian --fail-on error,warning -I --pedantic --show-overrides "$deb" ||
    fail "lintian found errors or warnings"

dpkg-deb -x "$deb" "$work/unpacked"
desktop=$work/unpacked/usr/share/applications/fiveinarow.desktop
timeout 60 desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -Eqx 'Categories=(.*;)?Game;.*' "$desktop" || fail "the desktop entry is not in the Game category"

# What is there before the installation stays; whatever of the package is new must go again.
if dpkg-query -W fiveinarow >/dev/null 2>&1; then
    timeout 300 "${apt[@]}" purge fiveinarow >/dev/null
fi
paths=$(awk '{print substr($6, 2)}' <<<"$listing" | sed 's,/$,,' | grep -v '^$')
before=$(while read -r p; do [ -e "$p" ] && echo "$p"; done <<<"$paths" || true)

timeout 300 "${apt[@]}" install "$root/$deb" >/dev/null || fail "apt-get install"
# From here on the package goes again whatever happens.
trap 'timeout 300 "${apt[@]}" purge fiveinarow >/dev/null; rm -rf "$work"' EXIT
status=0
# Started as a desktop session starts the entry's command: by name, on a user's PATH.
command=$(sed -n 's/^Exec=//p' "$desktop")
game=$(PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games command -v "$command") || true
if [ "$game" != /usr/games/fiveinarow ]; then
    echo "'$command' is '$game' on a user's PATH" >&2
    status=1
else
    # The screen is compared with the repository's pictures; no text is read (no text mask).
    timeout 120 python3 -B tests/package/start_installed.py "$game" --data "$root/data" \
        --text-mask /dev/null || status=$?
fi

trap 'rm -rf "$work"' EXIT
timeout 300 "${apt[@]}" purge fiveinarow >/dev/null || fail "apt-get purge"
[ $status -eq 0 ] || fail "the installed game did not start and end as it should"
dpkg-query -W fiveinarow >/dev/null 2>&1 && fail "fiveinarow is still known to dpkg"
after=$(while read -r p; do [ -e "$p" ] && echo "$p"; done <<<"$paths" || true)
left=$(comm -13 <(sort <<<"$before") <(sort <<<"$after"))
[ -z "$left" ] || fail "left after the purge: $left"

echo "passed package ($deb)"
