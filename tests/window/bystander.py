"""A game hosting on this machine's own network while the tests run beside it, as a maintainer's
game may: the tests must neither take its port nor reach it.

    bystander.py PROGRAM --data DATA --text-mask TEXT_MASK

Unlike the window tests, it stays in the machine's network namespace. It starts the game on an
Xvfb display of its own, hosts (Network game, Host game, a nick), prints "hosting" once the game
waits for a connection with its port listening, and then waits for a line on its standard input:
"check" checks that the game still waits untouched (no connection on its port, nothing written
since it began to wait, "Waiting for connection" still on the screen), leaves the wait and exits
the game cleanly, and prints "passed"; anything else (end of input included) just ends the game
and fails. Its exit status says which.
"""

import re
import subprocess
import sys

from harness.checks import WAIT, Failure, check, poll
from harness.geometry import MAIN_MENU
from harness.runner import main
from netplay.peer import MASTER_PORT
from netplay.screens import WAITING, host, leave, notice_shown, wait_for_waiting


def sockets(state):
    """The lines of `ss` for this network's TCP sockets on the game's master port in `state`."""
    out = subprocess.run(["ss", "-Htn", "state", state, f"( sport = :{MASTER_PORT} )"],
                         capture_output=True, text=True, check=True, timeout=WAIT).stdout
    return [line for line in out.splitlines() if line.strip()]


def wait_for_listening():
    for _ in poll(WAIT, f"a listening socket on port {MASTER_PORT}", step=0.1):
        if sockets("listening"):
            return


def still_waiting(game, before):
    """The game waits as it did before the tests: listening, nothing connected, nothing new
    written, the notice on the screen."""
    check(sockets("listening"), f"port {MASTER_PORT} no longer listens")
    connected = [line for state in ("established", "syn-recv", "close-wait")
                 for line in sockets(state)]
    check(not connected, f"connections on the hosting game's port: {connected}")
    written = {stream: game.lines(stream)[len(lines):] for stream, lines in before.items()}
    check(not any(written.values()), f"the hosting game wrote {written}")
    listener_lines = [line for stream in before for line in game.lines(stream)
                      if re.search(r"accepted|Listener|Listner", line)]
    check(not listener_lines, f"the hosting game's listener wrote {listener_lines}")
    game.expect_steady(lambda img: notice_shown(game, img, WAITING), f"{WAITING!r}")


def test(h):
    if sockets("listening"):
        raise Failure(f"port {MASTER_PORT} is taken on this machine already: no game can host")
    game = h.program(h.display())
    game.wait_for_menu()
    host(game, nick="player")
    wait_for_waiting(game)
    wait_for_listening()
    before = {stream: game.lines(stream) for stream in ("stdout", "stderr")}
    print("hosting", flush=True)

    command = sys.stdin.readline().strip()
    check(command == "check", f"asked {command!r}, not to check")
    still_waiting(game, before)
    game.key("Escape")
    game.wait_for_menu(MAIN_MENU, "the main menu after Escape in the wait")
    leave(game)
    print("passed", flush=True)


if __name__ == "__main__":
    main("bystander", test, network="own")
