#!/usr/bin/env bash
# Usage: scripts/private-network.sh [--mount] COMMAND [ARG...]
# Runs COMMAND in a private network namespace with its loopback up (and, with --mount, a private
# mount namespace): the game's fixed ports there are its own, and nothing it starts reaches the
# machine's own network. Where plain namespaces are refused (an ordinary user), it makes them in
# a user namespace where the user is root. There /tmp is a folder of the user's own (with the
# machine's /tmp/.X11-unix in it), so that what a program run as that root leaves in /tmp (wine's
# /tmp/.wine-0) is never the real root's; the folder goes when COMMAND ends, or is kept when it
# fails. Exits with COMMAND's status.
set -euo pipefail
namespaces=(--net)
if [ "${1:-}" = --mount ]; then
    namespaces+=(--mount)
    shift
fi
[ $# -gt 0 ] || { echo "usage: private-network.sh [--mount] COMMAND [ARG...]" >&2 && exit 2; }

# As root, or as root of a user namespace already (in a throwaway root), the namespaces as asked.
if refused=$(unshare "${namespaces[@]}" true 2>&1); then
    exec unshare "${namespaces[@]}" sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
if [ "$(id -u)" -eq 0 ]; then
    # A chroot refuses user namespaces, and a private mount namespace unless its root folder is a
    # mount (mount --bind ROOT ROOT before entering it).
    echo "private-network.sh: the kernel refused private namespaces to root ($refused)" >&2
    exit 1
fi
if ! refused=$(unshare --user --map-root-user --net --mount true 2>&1); then
    echo "private-network.sh: this machine refuses unprivileged user namespaces ($refused);" \
        "allow them with: sysctl -w kernel.unprivileged_userns_clone=1" >&2
    exit 1
fi
# Root's tools there (nft) are on root's PATH, which an ordinary user's lacks.
export PATH=$PATH:/usr/sbin:/sbin
tmp=$(mktemp -d -t fiveinarow-net.XXXXXX)
mkdir -m 1777 "$tmp/.X11-unix"
status=0
# shellcheck disable=SC2016 # expanded by the shell in the namespaces
unshare --user --map-root-user --net --mount sh -c '
    ip link set lo up || exit
    if [ -d /tmp/.X11-unix ]; then mount --bind /tmp/.X11-unix "$0/.X11-unix" || exit; fi
    mount --bind "$0" /tmp || exit
    exec "$@"' "$tmp" "$@" || status=$?
# The mounts were the namespace's alone: only the folders themselves are left here.
if [ $status -eq 0 ]; then
    rm -rf --one-file-system "$tmp"
else
    rmdir "$tmp/.X11-unix" 2>/dev/null || true
    echo "private-network.sh: the private /tmp of the failed command is kept in $tmp" >&2
fi
exit $status
