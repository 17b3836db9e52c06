#!/usr/bin/env bash
# The play command on a fresh Debian machine: a new minimal Debian root (mmdebstrap, from the
# package mirror apt uses here) gets a clone of this checkout's committed HEAD, and ./run.sh, run
# there as root, must install what it needs, build the game and show its main menu on an Xvfb
# display of this machine (fresh_run.py); the game is closed again and must end cleanly.
#
# Needs root (namespaces, mounts, chroot) and about 1 GB of memory: the root lives in a tmpfs of
# private mount and PID namespaces, so that its mounts, its files and every process started for
# it go with the namespaces whatever happens. They are stopped and undone in order first.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
checkout=/root/fiveinarow # the clone's folder inside the root

fail() {
    echo "FAILED fresh-machine run: $*" >&2
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
    work=$2 mirror=$3 suite=$4 repo=$5 head=$6
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
    mount -t tmpfs -o size=4g,mode=0755 fiveinarow-fresh "$work"
    mkdir "$work/tmp"
    export TMPDIR=$work/tmp

    started=$SECONDS
    bounded timeout 600 mmdebstrap --variant=apt --include=git,ca-certificates "$suite" "$root" \
        "$mirror" >"$work/mmdebstrap.log" 2>&1 ||
        { tail -40 "$work/mmdebstrap.log"; fail "mmdebstrap $suite $root $mirror"; }
    echo "a fresh $suite root from $mirror in $((SECONDS - started)) s"
    # apt there reaches the mirror by this machine's name servers.
    rm -f "$root/etc/resolv.conf"
    cp -L /etc/resolv.conf "$root/etc/resolv.conf"
    git -c safe.directory='*' clone -q "$repo" "$root$checkout"
    [ "$(git -C "$root$checkout" rev-parse HEAD)" = "$head" ] || fail "the clone is not at $head"

    mount --bind /proc "$root/proc"
    mount --rbind /dev "$root/dev" # with /dev/pts, where apt writes its terminal log
    mkdir -p "$root/tmp/.X11-unix"
    mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
    bounded python3 -B "$here/fresh_run.py" "$root" "$checkout" --timeout 300
    exit 0
fi

# ---- On this machine: the mirror and release of its own apt sources.
sources=/etc/apt/sources.list.d/debian.sources
mirror=$(awk '$1 == "URIs:" {print $2; exit}' "$sources" 2>/dev/null || true)
[ -n "$mirror" ] || fail "no URIs line in $sources"
suite=$(sed -n "s/^VERSION_CODENAME=//p" /etc/os-release)
[ -n "$suite" ] || fail "no VERSION_CODENAME in /etc/os-release"
# The checkout may belong to another user than root, who runs this.
repo=$(git -c safe.directory='*' -C "$here" rev-parse --show-toplevel)
head=$(git -c safe.directory='*' -C "$repo" rev-parse HEAD)

# Xvfb makes the folder of its sockets when it is missing; it goes again if this test made it.
x11_made=""
if [ ! -d /tmp/.X11-unix ]; then
    mkdir -m 1777 /tmp/.X11-unix
    x11_made=yes
fi
work=$(realpath "$(mktemp -d -t fiveinarow-fresh.XXXXXX)")
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
    [ -n "$x11_made" ] && rmdir /tmp/.X11-unix 2>/dev/null
    exit "$status"
}
trap cleanup EXIT
trap 'fail "stopped by a signal"' INT TERM HUP

# When the script inside ends, or unshare is stopped, the kernel ends every process left in the
# PID namespace, and the mount namespace with its tmpfs goes with the last of them.
bounded timeout 1000 unshare --mount --propagation private --pid --fork --kill-child --mount-proc \
    "$here/check-fresh-run.sh" --inside "$work" "$mirror" "$suite" "$repo" "$head"
echo "passed fresh-machine run"
