#!/usr/bin/env bash
# Usage: throwaway-root.sh [--include PACKAGE,...] [--limit SECONDS] [--name NAME] -- COMMAND [ARG...]
# Makes a throwaway Debian root of this machine's release from the package sources its own apt
# uses (scripts/apt-sources.sh, either form): mmdebstrap's apt variant, with the packages
# --include names. Then runs COMMAND ROOT ARG... (ROOT: the root's folder), and undoes everything
# however it ends: the processes running in the root are stopped, its mounts undone, its files
# gone. Exits with COMMAND's status. --limit bounds the whole (default 1000 s); NAME goes in
# messages. Needs root.
#
# The root lives in a tmpfs of private mount and PID namespaces (about 1 GB of memory): dpkg's
# many syncs cost nothing there, and its mounts, files and every process started for it go with
# the namespaces whatever happens. They are stopped and undone in order first all the same.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
include="" limit=1000 name="throwaway root"
while [ $# -gt 0 ]; do
    case "$1" in
        --include) include=$2 && shift 2 ;;
        --limit) limit=$2 && shift 2 ;;
        --name) name=$2 && shift 2 ;;
        --inside) break ;;
        --) shift && break ;;
        *) echo "throwaway-root.sh: unknown option $1" >&2 && exit 2 ;;
    esac
done

fail() {
    echo "FAILED $name: $*" >&2
    exit 1
}

# The processes whose root folder is $1.
pids_in() {
    local d
    for d in /proc/[0-9]*; do
        [ "$(readlink "$d/root" 2>/dev/null)" = "$1" ] && echo "${d##*/}"
    done
    return 0
}

# Stops the processes rooted in $1: SIGTERM, then SIGKILL after 5 s.
stop_in() {
    local pids
    pids=$(pids_in "$1")
    [ -z "$pids" ] && return 0
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null || true
    for _ in $(seq 50); do
        [ -z "$(pids_in "$1")" ] && return 0
        sleep 0.1
    done
    # shellcheck disable=SC2046
    kill -KILL $(pids_in "$1") 2>/dev/null || true
}

# Undoes the mount at the folder $1 and every mount under it, the last made first; a busy one is
# retried, then detached lazily.
unmount_under() {
    local m
    for m in $(awk -v dir="$1" '$5 == dir || index($5, dir "/") == 1 {print $5}' \
        /proc/self/mountinfo | tac); do
        for _ in 1 2 3 4 5; do
            umount "$m" 2>/dev/null && continue 2
            sleep 0.5
        done
        umount -l "$m" || echo "could not unmount $m" >&2
    done
}

# Runs "$@" in the background and waits for it, so that a signal to this script is handled at
# once (its trap then stops the child).
child=""
bounded() {
    "$@" &
    child=$!
    wait "$child"
}

[ "$(id -u)" -eq 0 ] || fail "needs root (namespaces, mounts, chroot): run it as root, or with sudo"

# ---- Inside the namespaces (see below), as their first process.
if [ "${1:-}" = --inside ]; then
    work=$2 suite=$3 sources=$4 include=$5
    shift 5
    root=$work/root
    # shellcheck disable=SC2317 # called by the trap
    inside_cleanup() {
        local status=$?
        set +e
        [ -n "$child" ] && kill "$child" 2>/dev/null
        stop_in "$root"
        unmount_under "$work"
        exit "$status"
    }
    trap inside_cleanup EXIT
    trap 'fail "stopped by a signal"' INT TERM HUP
    # Nothing mounted here may show in the machine's own mount namespace. In a chroot, whose root
    # folder is no mount, the work folder is made a private mount of its own instead (the bind
    # itself may show outside: the clean-up there undoes it).
    mount --make-rprivate / 2>/dev/null ||
        { mount --bind "$work" "$work" && mount --make-private "$work"; }
    mount -t tmpfs -o size=4g,mode=0755 fiveinarow-root "$work"
    mkdir "$work/tmp"
    export TMPDIR=$work/tmp

    started=$SECONDS
    mapfile -t mirrors <"$sources"
    bounded mmdebstrap --mode=root --variant=apt ${include:+--include="$include"} "$suite" "$root" \
        "${mirrors[@]}" >"$work/mmdebstrap.log" 2>&1 ||
        { tail -40 "$work/mmdebstrap.log"; fail "mmdebstrap $suite $root"; }
    echo "a throwaway $suite root${include:+ with $include} in $((SECONDS - started)) s"
    # apt there reaches the mirror by this machine's name servers.
    rm -f "$root/etc/resolv.conf"
    cp -L /etc/resolv.conf "$root/etc/resolv.conf"
    command=$1
    shift
    status=0
    bounded "$command" "$root" "$@" || status=$?
    exit "$status"
fi

[ $# -gt 0 ] || fail "no command to run in the root"
# ---- On this machine: the release and package sources of its own apt.
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$suite" ] || fail "no VERSION_CODENAME in /etc/os-release"
work=$(realpath "$(mktemp -d -t fiveinarow-root.XXXXXX)")
# The sources are kept beside the tmpfs, which hides the folder's own files.
sources=$(mktemp -t fiveinarow-sources.XXXXXX)
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    local status=$?
    set +e
    trap - EXIT INT TERM HUP
    if [ -n "$child" ]; then
        kill "$child" 2>/dev/null
        wait "$child" 2>/dev/null
    fi
    # Nothing of the namespaces should show here; should it, it is undone all the same.
    stop_in "$work/root"
    unmount_under "$work"
    if grep -q " ${work}[/ ]" /proc/self/mountinfo; then
        echo "still mounted, $work left: $(grep " ${work}[/ ]" /proc/self/mountinfo)" >&2
        status=1
    else
        rm -rf --one-file-system "$work"
    fi
    rm -f "$sources"
    exit "$status"
}
trap cleanup EXIT
trap 'fail "stopped by a signal"' INT TERM HUP
"$here/../scripts/apt-sources.sh" >"$sources" || fail "no package sources to make a root from"

# When the script inside ends, or unshare is stopped, the kernel ends every process left in the
# PID namespace, and the mount namespace with its tmpfs goes with the last of them.
bounded timeout "$limit" unshare --mount --propagation unchanged --pid --fork --kill-child \
    --mount-proc "$0" --inside "$work" "$suite" "$sources" "$include" "$@"
