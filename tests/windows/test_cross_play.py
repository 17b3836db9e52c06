"""The Windows build under wine plays network games against the Linux build, both inside a private
network namespace of the test's own (wine's server is started there too, with a wine prefix of the
test's own). First the Linux program hosts and the Windows program joins, then the other way round.

In each run two games are played to a win, one for each side, every move checked on both screens
as in the Linux network tests (netplay.games.NetGame). The Windows program shows the same frames and
texts, and writes the same lines, in the same role, as the Linux program: standard output line by
line, standard error as the same lines in any order (two threads write there).

The second run goes on with a third game, in which the Windows program's close button is clicked
after its window's focus changed: it ends within END s, and the Linux program shows "Game
interrupted".

Usage: test_cross_play.py LINUX_PROGRAM --data DATA --text-mask TEXT_MASK --windows PROGRAM.EXE
"""

import collections
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window"))
# pylint: disable=wrong-import-position
import wine
from harness.checks import Failure, check
from harness.runner import main
from netplay.games import NetGame
from netplay.peer import wait_for_free_ports
from netplay.screens import dismiss, leave, wait_parked

NAME = "cross_play"
END = 2.0
# The master fills the top row from the left; the slave answers in the second row.
ROW = [(0, 0), (0, 1), (1, 0), (1, 1), (2, 0), (2, 1), (3, 0), (3, 1)]
# The slave completes a falling diagonal from (10, 10) to (14, 14).
DIAGONAL = [(0, 15), (10, 10), (2, 15), (11, 11), (4, 15), (12, 12), (6, 15), (13, 13), (8, 15)]


def two_games(linux, windows, linux_hosts):
    """A win for the master, then one for the slave; returns each side's lines afterwards."""
    master, slave = (linux, windows) if linux_hosts else (windows, linux)
    game = NetGame(master, slave)
    game.start(master_nick="anna", slave_nick="bert")
    game.play(ROW)
    game.win((4, 0), ((0, 0), (4, 0)))
    windows.focus()
    game = NetGame(master, slave)
    game.start(master_nick="anna", slave_nick="bert")
    game.play(DIAGONAL)
    game.win((14, 14), ((10, 10), (14, 14)))
    return {program: (program.lines(), program.lines("stderr")) for program in (master, slave)}


def start_run(h, prefix):
    wait_for_free_ports()
    linux = h.program(h.display())
    windows = wine.WineProgram(h, h.display(), prefix, h.options.windows)
    linux.wait_for_menu()
    windows.wait_for_menu()
    windows.ready_for_input()
    return linux, windows


def close_mid_game(linux, windows):
    """The Windows program's close button in its own turn, after focus changes: it ends within
    END s of taking it, and the Linux program shows "Game interrupted"."""
    game = NetGame(windows, linux)
    game.start(master_nick="anna", slave_nick="bert")
    game.play([(7, 7), (8, 8)])
    windows.focus()
    windows.focus()
    before, asked = windows.lines(), time.monotonic()
    windows.close()
    windows.wait_for_line("End: close button", timeout=END * 5)
    answered = time.monotonic()
    if not windows.ends_within(END):
        raise Failure(f"the Windows program did not end within {END:g} s of taking the close "
                      f"button; output {windows.lines()}")
    print(f"close button: taken after {answered - asked:.2f} s, ended "
          f"{time.monotonic() - answered:.2f} s later")
    check(windows.proc.returncode == 0, f"exit status {windows.proc.returncode}")
    check(windows.lines()[len(before):] == ["End: close button", "system done"],
          f"output after the close button: {windows.lines()[len(before):]}")
    wait_parked(linux, lambda img: linux.end_screen_shown(img, 0), "'Game interrupted'")
    check("Listener: Remote interrupt recieved" in linux.lines("stderr"),
          "the Linux program did not get the interrupt message")
    linux.expect_steady(lambda img: linux.end_screen_shown(img, 0), "the end screen")
    dismiss(linux)


def compare(role, linux, windows):
    """The Windows program's lines in `role` against the Linux program's in the same role."""
    (linux_out, linux_err), (windows_out, windows_err) = linux, windows
    check(windows_out == linux_out, f"{role}: the Windows program wrote {windows_out} on standard "
          f"output, the Linux program {linux_out}")
    missing = collections.Counter(linux_err) - collections.Counter(windows_err)
    extra = collections.Counter(windows_err) - collections.Counter(linux_err)
    check(not missing and not extra, f"{role}: standard error differs from the Linux program's: "
          f"missing {dict(missing)}, extra {dict(extra)}")


def test(h):
    prefix = wine.prefix(h)
    h.options.windows = wine.beside_pictures(h, h.options.windows)

    started = time.monotonic()
    linux, windows = start_run(h, prefix)
    hosted = two_games(linux, windows, linux_hosts=True)
    for program in (linux, windows):
        leave(program)
    check(windows.lines() == linux.lines(), f"the Windows program wrote {windows.lines()}, the "
          f"Linux program {linux.lines()}")
    linux_master, windows_slave = hosted[linux], hosted[windows]
    print(f"the Linux program hosting: {time.monotonic() - started:.1f} s")

    started = time.monotonic()
    linux, windows = start_run(h, prefix)
    joined = two_games(linux, windows, linux_hosts=False)
    compare("master", linux_master, joined[windows])
    compare("slave", joined[linux], windows_slave)
    close_mid_game(linux, windows)
    leave(linux)
    print(f"the Windows program hosting: {time.monotonic() - started:.1f} s")


if __name__ == "__main__":
    main(NAME, test, options=[("--windows", "the Windows build of the game")])
