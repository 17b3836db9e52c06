"""Every press counts, every key shows, and a waiting screen rests.

- The main menu, the master's wait for a slave and a slave's connect to an address that does not
  answer (its packets dropped with nftables in the test's private network namespace) each take
  under a tenth of a core over 2 s, the pointer still: a loop that stopped resting would take
  most of one.
- In a hot-seat game, two clicks on two cells 5 ms apart, both while the program waits to show a
  frame: both marks show, the first player's in the first cell, the second player's in the
  second.
- With two busy loops loading both cores, a nick typed at 5 ms a key shows every character.

Each wait for an effect has the harness's deadline: a press or key the program lost fails."""

import os
import subprocess
import sys
import time

from harness.checks import WAIT, check
from harness.geometry import MAIN_MENU, MARK, PARK, WHITE, cell_centre, cell_mark
from harness.runner import main
from netplay.screens import (NICK_PROMPT, ORANGE, PROMPT_AT, Transcript, join, leave,
                             open_network_menu, unanswered, wait_for_waiting)

NAME = "every_event"
# The share of one core a resting screen stays under, and how long it is measured.
MOST = 0.10
MEASURED = 2.0
NICK = "quickbrownfox"


def cpu_seconds(pid):
    """The user and system time a process has taken so far, in seconds."""
    with open(f"/proc/{pid}/stat", encoding="ascii") as f:
        # The fields after the command's name, which may hold spaces, in parentheses.
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rests(game, screen):
    """The program, left alone on `screen`, takes under MOST of a core over MEASURED seconds."""
    start, used = time.monotonic(), cpu_seconds(game.proc.pid)
    time.sleep(MEASURED)
    share = (cpu_seconds(game.proc.pid) - used) / (time.monotonic() - start)
    check(share < MOST, f"{screen}: {share:.0%} of a core, not under {MOST:.0%}")
    print(f"{screen}: {share:.1%} of a core")


def two_quick_clicks(game):
    game.choose("mi_local.tga")
    game.wait_for_turn(1)
    first, second = (5, 5), (9, 7)
    x1, y1 = cell_centre(*first)
    x2, y2 = cell_centre(*second)
    game.move(x1, y1)
    # Two moves in quick succession: the second one's frame waits for its turn (60 a second),
    # and both clicks come while it waits, between the same two passes.
    at = ["mousemove", "--window", game.window]
    game.display.xdotool(*at, str(x1 + 2), str(y1), "sleep", "0.002", *at, str(x1), str(y1),
                         "sleep", "0.002", "mousedown", "1", "mouseup", "1", "sleep", "0.005",
                         *at, str(x2), str(y2), "mousedown", "1", "mouseup", "1")
    # Nothing else wakes the program meanwhile: the pointer stays over the second cell.
    game.wait_for_screen(lambda img: game.turn_shown(img, 1) and cell_mark(img, *first) == MARK[1],
                         "both clicks taken: player one's turn again, its mark in the first cell")
    game.move_blind(*PARK)
    img = game.wait_for_turn(1)
    check(cell_mark(img, *first) == MARK[1], f"no {MARK[1]} in {first}")
    check(cell_mark(img, *second) == MARK[2], f"no {MARK[2]} in {second}")
    # The Escape that ends the game is still in the key buffer: it takes the end screen with it.
    game.key("Escape", seen=lambda img: game.menu_shown(img, MAIN_MENU),
             what="the main menu after Escape in the hot-seat game")


def busy_loops(h, count=2):
    """Loops that take a core each until the test ends or they are stopped."""
    loops = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(count)]

    def stop():
        for loop in loops:
            if loop.poll() is None:
                loop.kill()
                loop.wait()
    h.cleanups.append(stop)
    return stop


def nick_under_load(h, game):
    open_network_menu(game, "net_master.tga")
    game.move_blind(*PARK)
    game.wait_for_screen(lambda img: game.text_shown(img, *PROMPT_AT, NICK_PROMPT, ORANGE),
                         f"the prompt {NICK_PROMPT!r}")
    at = (PROMPT_AT[0] + h.text_mask(NICK_PROMPT)[0], PROMPT_AT[1])
    stop = busy_loops(h)
    try:
        game.display.xdotool("type", "--delay", "5", NICK)
        game.wait_for_screen(lambda img: game.text_shown(img, *at, NICK, WHITE),
                             f"every character of {NICK!r} typed under load", timeout=2 * WAIT)
    finally:
        stop()
    game.key("Return")
    wait_for_waiting(game)


def test(h):
    unanswered("127.0.0.2")
    game = h.program(h.display())
    game.wait_for_menu()
    log = Transcript(game)
    game.move_blind(*PARK)
    rests(game, "the main menu")

    two_quick_clicks(game)
    log.expect(out=["Choice: 0"])

    nick_under_load(h, game)
    rests(game, "the master's wait")
    game.tap_key("Escape")
    game.wait_for_menu(what="the main menu after the master's wait")

    join(game, "127.0.0.2", "slow")
    wait_for_waiting(game)
    rests(game, "a connect without answer")
    game.tap_key("Escape")
    game.wait_for_menu(what="the main menu after the connect")
    log.expect(out=["Choice: 1", "Choice: 1"])
    log.check()
    leave(game, log)


if __name__ == "__main__":
    main(NAME, test)
