#!/usr/bin/env bash
# Usage: scripts/private-network.sh [--mount] COMMAND [ARG...]
#        scripts/private-network.sh [--mount] --check
# Runs COMMAND in a private network namespace with its loopback up (and, with --mount, a private
# mount namespace): the game's fixed ports there are its own, and nothing it starts reaches the
# machine's own network. Where plain namespaces are refused (an ordinary user), it makes them in
# a user namespace where the user is root. There /tmp is a folder of the user's own (with the
# machine's /tmp/.X11-unix in it), so that what a program run as that root leaves in /tmp (wine's
# /tmp/.wine-0) is never the real root's; the folder goes when COMMAND ends, or is kept when it
# fails. Exits with COMMAND's status. With --check it runs nothing and only tells whether it could
# here: status 0, or 1 with why not, in one line.

# Whether this process's root folder is not its mount namespace's root, as in a root entered with
# chroot (a container's, entered with pivot_root, is). Then either the root folder is no mount at
# all, or PID 1 of the same mount namespace sees that mount elsewhere than at / (a mount's id is
# the machine's, and the mount is in one namespace only). $1: this process's mountinfo, $2: PID
# 1's (readable by all).
chrooted() {
    local ids
    ids=$(awk '$5 == "/" {printf " %s ", $1}' "$1" 2>/dev/null) || return 1
    [ -z "$ids" ] || awk -v ids="$ids" 'index(ids, " " $1 " ") && $5 != "/" {found = 1}
        END {exit !found}' "$2" 2>/dev/null
}

# Why the kernel refuses the namespaces, as far as it can be told from here: to root ($1 = root),
# or to an ordinary user in a user namespace ($1 = user). Names a setting only where it exists
# and says no.
refusal_cause() {
    local setting value
    if [ "$1" = root ]; then
        if [ ${#namespaces[@]} -gt 1 ] && ! awk '$5 == "/" {found = 1} END {exit !found}' \
            /proc/self/mountinfo 2>/dev/null; then
            echo "this chroot's root folder is no mount, so a mount namespace made here cannot" \
                "be kept apart from the machine's: bind-mount the folder on itself before" \
                "entering it (mount --bind ROOT ROOT)"
            return
        fi
        # CAP_SYS_ADMIN, bit 21 of the effective capabilities, makes namespaces.
        value=$(awk '$1 == "CapEff:" {print $2}' /proc/self/status)
        if [ $((0x${value:-0} >> 21 & 1)) -eq 0 ]; then
            echo "root has no CAP_SYS_ADMIN here, as in a container whose policy drops it"
            return
        fi
    else
        if chrooted /proc/self/mountinfo /proc/1/mountinfo; then
            echo "this runs in a chroot (its root folder is not its mount namespace's root)," \
                "where the kernel gives no user namespaces: run it as root, or enter the root" \
                "as a container does (pivot_root in a mount namespace of its own)"
            return
        fi
        # Each setting that turns them off, with a value that allows them.
        for setting in kernel.unprivileged_userns_clone=1 user.max_user_namespaces=15000; do
            value=$(cat "/proc/sys/$(tr . / <<<"${setting%=*}")" 2>/dev/null) || continue
            if [ "$value" = 0 ]; then
                echo "${setting%=*} is 0 here; allow them with: sysctl -w $setting"
                return
            fi
        done
    fi
    if grep -q '^Seccomp:[[:space:]]*2' /proc/self/status; then
        echo "a seccomp filter refuses them, as a container's policy does"
    elif [ -e /.dockerenv ] || [ -e /run/.containerenv ]; then
        echo "the container this runs in refuses them by its policy"
    else
        echo "the kernel refused them"
    fi
}

# Sourced (by its test), the script only defines the functions above.
[ "${BASH_SOURCE[0]}" = "$0" ] || return 0
set -euo pipefail
namespaces=(--net)
if [ "${1:-}" = --mount ]; then
    namespaces+=(--mount)
    shift
fi
check=""
if [ "${1:-}" = --check ] && [ $# -eq 1 ]; then
    check=yes
    shift
fi
[ $# -gt 0 ] || [ -n "$check" ] ||
    { echo "usage: private-network.sh [--mount] COMMAND [ARG...] | [--mount] --check" >&2 && exit 2; }

# As root, or as root of a user namespace already (in a throwaway root), the namespaces as asked.
if refused=$(unshare "${namespaces[@]}" true 2>&1); then
    [ -z "$check" ] || exit 0
    exec unshare "${namespaces[@]}" sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
if [ "$(id -u)" -eq 0 ]; then
    echo "private-network.sh: private namespaces are refused to root here ($refused):" \
        "$(refusal_cause root)" >&2
    exit 1
fi
if ! refused=$(unshare --user --map-root-user --net --mount true 2>&1); then
    echo "private-network.sh: user namespaces are refused here ($refused):" \
        "$(refusal_cause user)" >&2
    exit 1
fi
[ -z "$check" ] || exit 0
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
