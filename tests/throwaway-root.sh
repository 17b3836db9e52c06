#!/usr/bin/env bash
# Usage: throwaway-root.sh [--include PACKAGE,...] [--limit SECONDS] [--name NAME] -- COMMAND [ARG...]
# Makes a throwaway Debian root of this machine's release with mmdebstrap, from the package
# sources files this machine's apt reads (either form, their options kept): the apt variant with
# the packages --include names, dpkg's syncs skipped (mmdebstrap's eatmydata hook). COMMAND ROOT
# ARG... runs as its customize hook, as root of the root's namespaces, with /proc, /sys and /dev
# mounted in ROOT; mmdebstrap then removes the root, however COMMAND ended. COMMAND undoes any
# mount of its own before it ends, or that removal reaches through it. Exits non-zero when COMMAND
# fails. --limit bounds the whole (default 1000 s); NAME goes in messages.
#
# As root: mmdebstrap's root mode, in private mount and PID namespaces (whatever is left running
# in the root goes with them). As an ordinary user: its unshare mode, with the subordinate ids
# that Debian gives each new user (/etc/subuid, /etc/subgid; newuidmap from package uidmap), so
# COMMAND, ARG and what they read must be readable by others.
set -euo pipefail
include="" limit=1000 name="throwaway root"
while [ $# -gt 0 ]; do
    case "$1" in
        --include) include=$2 && shift 2 ;;
        --limit) limit=$2 && shift 2 ;;
        --name) name=$2 && shift 2 ;;
        --) shift && break ;;
        *) echo "throwaway-root.sh: unknown option $1" >&2 && exit 2 ;;
    esac
done

fail() {
    echo "FAILED $name: $*" >&2
    exit 1
}

[ $# -gt 0 ] || fail "no command to run in the root"
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$suite" ] || fail "no VERSION_CODENAME in /etc/os-release"
shopt -s nullglob
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -s "$f" ] && sources+=("$f")
done
[ ${#sources[@]} -gt 0 ] || fail "no package sources in /etc/apt"

if [ "$(id -u)" -eq 0 ]; then
    # Mounts made here stay out of the machine's namespace; in a chroot, whose root folder is no
    # mount, they cannot be kept out, and mmdebstrap and COMMAND undo their own.
    mode=root
    wrap=(unshare --mount --propagation unchanged --pid --fork --kill-child=TERM
        sh -c 'mount --make-rprivate / 2>/dev/null; exec "$@"' sh)
else
    mode=unshare wrap=()
    user=$(id -un)
    { grep -q "^$user:" /etc/subuid && grep -q "^$user:" /etc/subgid; } ||
        fail "$user has no subordinate ids in /etc/subuid and /etc/subgid" \
            "(as root: usermod --add-subuids 100000-165535 --add-subgids 100000-165535 $user)"
    refused=$("$(dirname "$0")/../scripts/private-network.sh" --check 2>&1) || fail "$refused"
fi

# shellcheck disable=SC2016 # mmdebstrap's shell gives the root as $1
hook=$(printf '%q ' "$1")'"$1"'$(printf ' %q' "${@:2}")
started=$SECONDS
echo "a throwaway $suite root${include:+ with $include} ($mode mode)"
status=0
# Quiet: only COMMAND's output and that of the hooks is shown, as it comes.
timeout "$limit" "${wrap[@]}" mmdebstrap --mode="$mode" --variant=apt --quiet \
    ${include:+--include="$include"} --hook-dir=/usr/share/mmdebstrap/hooks/eatmydata \
    --customize-hook="$hook" "$suite" /dev/null "${sources[@]}" || status=$?
[ $status -eq 0 ] || fail "mmdebstrap's status $status after $((SECONDS - started)) s"
echo "the throwaway root: $((SECONDS - started)) s in all"
