#!/bin/sh
# The game installed in the throwaway root FIVEINAROW_ROOT, started as a desktop session starts
# its entry's command FIVEINAROW_COMMAND: by name on the user's PATH FIVEINAROW_PATH, as an
# ordinary user, in a folder without pictures (the root's /). start_installed.py runs it on the
# display DISPLAY, which the game reaches through its abstract socket (in the network namespace
# they share), so nothing of this machine's /tmp is mounted in the root.
set -eu
exec chroot --userspec=nobody:nogroup "$FIVEINAROW_ROOT" /usr/bin/env -i DISPLAY="$DISPLAY" \
    HOME=/nonexistent PATH="$FIVEINAROW_PATH" "$FIVEINAROW_COMMAND"
