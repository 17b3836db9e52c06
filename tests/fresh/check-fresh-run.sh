#!/usr/bin/env bash
# The play command on a fresh Debian machine: a new minimal Debian root (../throwaway-root.sh,
# with git) gets a clone of this checkout's committed HEAD, and ./run.sh, run there as root, must
# install what it needs, build the game and show its main menu on an Xvfb display of this machine
# (fresh_run.py; the game reaches it through the display's abstract socket, which needs no
# mount); the game is closed again and must end cleanly. Root is not needed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
checkout=/root/fiveinarow # the clone's folder inside the root

fail() {
    echo "FAILED fresh-machine run: $*" >&2
    exit 1
}

# ---- As the throwaway root's customize hook: ROOT --in-root REPO HEAD.
if [ "${2:-}" = --in-root ]; then
    root=$1 repo=$3 head=$4
    # The checkout belongs to another user than the root's root (the one serving it included).
    git -c safe.directory='*' clone -q --upload-pack="git -c safe.directory='*' upload-pack" \
        "$repo" "$root$checkout"
    [ "$(git -C "$root$checkout" rev-parse HEAD)" = "$head" ] || fail "the clone is not at $head"
    exec python3 -B "$here/fresh_run.py" "$root" "$checkout" --timeout 300
fi

# The checkout may belong to another user than the one who runs this.
repo=$(git -c safe.directory='*' -C "$here" rev-parse --show-toplevel)
head=$(git -c safe.directory='*' -C "$repo" rev-parse HEAD)

# Xvfb makes the folder of its sockets when it is missing; it goes again if this test made it.
x11_made="" child=""
if [ ! -d /tmp/.X11-unix ]; then
    mkdir -m 1777 /tmp/.X11-unix
    x11_made=yes
fi
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    # The root's own clean-up runs on its signal: it is waited for.
    if [ -n "$child" ]; then
        kill "$child" 2>/dev/null
        wait "$child" 2>/dev/null
    fi
    # Other displays started meanwhile may still have their sockets there: then it stays, and
    # this test's result is the same.
    if [ -n "$x11_made" ]; then
        rmdir /tmp/.X11-unix 2>/dev/null || true
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'fail "stopped by a signal"' INT TERM HUP
"$here/../throwaway-root.sh" --name "fresh-machine run" --include git,ca-certificates -- \
    "$here/check-fresh-run.sh" --in-root "$repo" "$head" &
child=$!
wait "$child" || fail "see above"
child=""
echo "passed fresh-machine run"
