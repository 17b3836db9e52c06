#!/usr/bin/env bash
# Usage: check-in-root.sh ROOT DEB, run by ../throwaway-root.sh as the root's customize hook
# (with /proc, /sys and /dev mounted in ROOT).
# In the throwaway Debian root ROOT: installs DEB with apt as a user does, starts the installed
# game as its desktop entry starts it (run-in-root.sh, on an Xvfb display of start_installed.py)
# and purges it, after which none of its files may be left. ufw, installed in ROOT beforehand,
# must find the package's application profile.
set -euo pipefail
root=$1
deb=$2
here=$(cd "$(dirname "$0")" && pwd)
fail() {
    echo "FAILED package: $*" >&2
    exit 1
}
[ -x "$root/usr/bin/apt-get" ] || fail "$root is not a Debian root"
# apt's output is shown when it fails.
root_apt() {
    local out
    out=$(chroot "$root" env DEBIAN_FRONTEND=noninteractive \
        apt-get -y -q -o Dpkg::Use-Pty=0 "$@" 2>&1) || { echo "$out" >&2; fail "apt-get $1"; }
}

# What is there before the installation stays; whatever of the package is new must go again.
paths=$(dpkg-deb -c "$deb" | awk '{print substr($6, 2)}' | sed 's,/$,,' | grep -v '^$')
present() {
    while read -r p; do [ -e "$root$p" ] && echo "$p"; done <<<"$paths" || true
}
before=$(present)

cp "$deb" "$root/tmp/fiveinarow.deb"
root_apt install /tmp/fiveinarow.deb
rm "$root/tmp/fiveinarow.deb"

# `ufw allow fiveinarow` opens the game's two ports, TCP only. ufw reads its profiles whether or
# not it is enabled; one entry of several ports is shown under "Port:".
info=$(chroot "$root" ufw app info fiveinarow 2>&1) || { echo "$info" >&2; fail "ufw app info"; }
ports=$(sed -n '/^Ports\?:$/,$p' <<<"$info" | sed 1d | tr -d '[:space:]')
[ "$ports" = 31211,31212/tcp31211,31212/udp ] || { echo "$info" >&2; fail "ufw's profile has the ports '$ports'"; }
echo "ufw app info fiveinarow: $ports"

# Started as a desktop session starts the entry's command: by name, on a user's PATH.
command=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/fiveinarow.desktop")
user_path=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games
game=$(chroot "$root" env PATH="$user_path" sh -c 'command -v "$1"' sh "$command") || true
status=0
if [ "$game" != /usr/games/fiveinarow ]; then
    echo "'$command' is '$game' on a user's PATH" >&2
    status=1
else
    # The screen is compared with the repository's pictures; no text is read (no text mask).
    # In this process group, so that a time limit on this script reaches the test and its game.
    FIVEINAROW_ROOT=$root FIVEINAROW_COMMAND=$command FIVEINAROW_PATH=$user_path \
        timeout --foreground -k 10 120 python3 -B "$here/start_installed.py" "$here/run-in-root.sh" \
        --data "$here/../../data" --text-mask /dev/null || status=$?
fi

root_apt purge fiveinarow
[ $status -eq 0 ] || fail "the installed game did not start and end as it should"
chroot "$root" dpkg-query -W fiveinarow >/dev/null 2>&1 && fail "fiveinarow is still known to dpkg"
left=$(comm -13 <(sort <<<"$before") <(present | sort))
[ -z "$left" ] || fail "left after the purge: $left"
echo "installed, started and purged in the throwaway root"
