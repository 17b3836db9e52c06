#!/usr/bin/env bash
# The play command on a fresh Debian machine: a new minimal Debian root (mmdebstrap, from the
# package mirror apt uses here) gets a clone of this checkout's committed HEAD, and ./run.sh, run
# there as root, must install what it needs, build the game and show its main menu on an Xvfb
# display of this machine (fresh_run.py); the game is closed again and must end cleanly.
# Needs root (chroot, mounts, namespaces). Whatever happens, nothing is left: the processes of
# the root are stopped, its mounts undone and the root removed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
checkout=/root/fiveinarow # the clone's folder inside the root

fail() {
    echo "FAILED fresh-machine run: $*" >&2
    exit 1
}

# The processes whose root folder is $2, as listed by the proc file system at $1.
pids_in() {
    local d
    for d in "$1"/[0-9]*; do
        [ "$(readlink "$d/root" 2>/dev/null)" = "$2" ] && echo "${d##*/}"
    done
    return 0
}

# Stops the processes rooted in $2 (proc file system at $1): SIGTERM, then SIGKILL after 5 s.
stop_in() {
    local pids
    pids=$(pids_in "$@")
    [ -z "$pids" ] && return 0
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null || true
    for _ in $(seq 50); do
        [ -z "$(pids_in "$@")" ] && return 0
        sleep 0.1
    done
    # shellcheck disable=SC2046
    kill -KILL $(pids_in "$@") 2>/dev/null || true
}

# Undoes every mount under the folder $1, the last made first; a busy one is retried, then
# detached lazily.
unmount_under() {
    local m
    for m in $(awk -v under="$1/" 'index($5, under) == 1 {print $5}' /proc/self/mountinfo | tac); do
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

[ "$(id -u)" -eq 0 ] || fail "needs root (chroot, mounts, namespaces): run it as root, or with sudo"

# ---- Inside private mount and PID namespaces (see below): the mounts and every process started
# here end with the namespaces, should anything be left behind.
if [ "${1:-}" = --inside ]; then
    work=$2
    root=$work/root
    # shellcheck disable=SC2317 # called by the trap
    inside_cleanup() {
        set +e
        [ -n "$child" ] && kill "$child" 2>/dev/null
        stop_in "$root/proc" "$root"
        unmount_under "$root"
    }
    trap inside_cleanup EXIT
    trap 'exit 1' INT TERM HUP
    mount -t proc proc "$root/proc"
    mount --bind /dev "$root/dev"
    mkdir -p "$root/tmp/.X11-unix"
    mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
    TMPDIR=$work/tmp bounded python3 -B "$here/fresh_run.py" "$root" "$checkout" --timeout 300
    exit 0
fi

# ---- On this machine.
# The mirror and release of this machine's own apt sources.
sources=/etc/apt/sources.list.d/debian.sources
mirror=$(awk '$1 == "URIs:" {print $2; exit}' "$sources" 2>/dev/null || true)
[ -n "$mirror" ] || fail "no URIs line in $sources"
suite=$(sed -n "s/^VERSION_CODENAME=//p" /etc/os-release)
[ -n "$suite" ] || fail "no VERSION_CODENAME in /etc/os-release"
repo=$(git -C "$here" rev-parse --show-toplevel)
head=$(git -C "$repo" rev-parse HEAD)

# Xvfb makes the folder of its sockets when it is missing; it goes again if this test made it.
x11_made=""
if [ ! -d /tmp/.X11-unix ]; then
    mkdir -m 1777 /tmp/.X11-unix
    x11_made=yes
fi
work=$(realpath "$(mktemp -d)")
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    local status=$?
    set +e
    trap - EXIT INT TERM HUP
    if [ -n "$child" ]; then
        kill "$child" 2>/dev/null
        wait "$child" 2>/dev/null
    fi
    stop_in /proc "$work/root"
    unmount_under "$work"
    if grep -q " $work/" /proc/self/mountinfo; then
        echo "still mounted, $work left: $(grep " $work/" /proc/self/mountinfo)" >&2
        status=1
    else
        rm -rf --one-file-system "$work"
    fi
    [ -n "$x11_made" ] && rmdir /tmp/.X11-unix 2>/dev/null
    exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
mkdir "$work/tmp"
log=$work/log
started=$SECONDS
bounded timeout 600 mmdebstrap --variant=apt --include=git,ca-certificates "$suite" "$work/root" \
    "$mirror" >"$log" 2>&1 || { tail -40 "$log"; fail "mmdebstrap $suite $mirror"; }
echo "a fresh $suite root from $mirror in $((SECONDS - started)) s"
rm -f "$work/root/etc/resolv.conf"
cp -L /etc/resolv.conf "$work/root/etc/resolv.conf"
git clone -q "$repo" "$work/root$checkout"
[ "$(git -C "$work/root$checkout" rev-parse HEAD)" = "$head" ] || fail "the clone is not at $head"

# Private mount and PID namespaces: should anything be left behind in them, it ends with them.
bounded timeout 600 unshare --mount --propagation private --pid --fork --kill-child \
    "$here/check-fresh-run.sh" --inside "$work" >"$log" 2>&1 ||
    { tail -120 "$log"; fail "see above"; }
cat "$log"
echo "passed fresh-machine run"
