#!/bin/sh
# The game installed in the throwaway root FIVEINAROW_ROOT, started as a desktop session starts
# its entry's command FIVEINAROW_COMMAND: by name on the user's PATH FIVEINAROW_PATH, as an
# ordinary user, in a folder without pictures (the root's /). start_installed.py runs it on the
# display DISPLAY, inside the mount namespace of the throwaway root (../throwaway-root.sh).
set -eu
# Xvfb made the display's socket in this machine's /tmp.
mountpoint -q "$FIVEINAROW_ROOT/tmp/.X11-unix" ||
    mount --bind /tmp/.X11-unix "$FIVEINAROW_ROOT/tmp/.X11-unix"
exec chroot --userspec=nobody:nogroup "$FIVEINAROW_ROOT" /usr/bin/env -i DISPLAY="$DISPLAY" \
    HOME=/nonexistent PATH="$FIVEINAROW_PATH" "$FIVEINAROW_COMMAND"
