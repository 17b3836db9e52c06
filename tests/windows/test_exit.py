"""The Windows game ends promptly under wine whichever way it is asked to, also after its window's
focus changed and while another window is in front: Exit in the main menu, the close button, a
network game that the peer interrupts followed by Exit, and the close message that the taskbar
sends to a window in the background. Each ask is answered with its line on standard output, and
the process ends with status 0 within END seconds of the answer. Each way is tried ROUNDS times,
as an exit that hangs did so in most tries, not all.

The peer is a scripted one of the tests' own (netplay/peer.py) on the game's ports, in a private
network namespace of the test's own where wine's server runs too.

Usage: [EXIT_ROUNDS=N] test_exit.py PROGRAM.EXE --data DATA --text-mask TEXT_MASK
"""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window"))
# pylint: disable=wrong-import-position
import wine
from harness.checks import WAIT, Failure, check
from harness.runner import main
from netplay.games import leave_end_screen, wait_for_board
from netplay.peer import Board, Peer
from netplay.screens import join, wait_for_end

NAME = "windows_exit"
END = 2.0
ROUNDS = int(os.environ.get("EXIT_ROUNDS", "3"))
START = ["Initing net"]
LEFT = ["Choice: 2", "End", "system done"]
CLOSED = ["End: close button", "system done"]


def start(h, display, prefix, exe):
    """The game on `display`, its main menu shown and ready for input."""
    program = wine.WineProgram(h, display, prefix, exe)
    program.wait_for_menu()
    program.ready_for_input()
    return program


def ask_and_time(program, way, ask, answer, lines):
    """Asks the program to end with ask(); checks its answer, its clean end with `lines` on
    standard output, and how soon after the answer it ended."""
    ask()
    program.wait_for_line(answer)
    answered = time.monotonic()
    if not program.ends_within(END):
        raise Failure(f"{way}: the program did not end within {END:g} s of its answer "
                      f"{answer!r}; output {program.lines()}")
    took = time.monotonic() - answered
    check(program.proc.returncode == 0, f"{way}: exit status {program.proc.returncode}")
    check(program.lines() == lines, f"{way}: output {program.lines()}")
    errors = [line for line in program.lines("stderr") if line.startswith("Error: ")]
    check(not errors, f"{way}: error output {errors}")
    return took


def interrupted_by_peer(h, display, prefix, exe):
    """The game joins a scripted master, which interrupts in its own first turn: the game shows
    "Game interrupted"; a key brings its main menu back, after focus changes."""
    program = start(h, display, prefix, exe)
    with Peer("master") as peer:
        peer.listen()
        join(program, nick="bert")
        peer.take_slave("bert")
        wait_for_board(program, Board(), local=False)
        program.focus()
        peer.interrupt()
        wait_for_end(program, peer.board, 0)
        program.focus()
        leave_end_screen(program, peer)
    program.focus()
    return program


def test(h):
    display = h.display()
    prefix = wine.prefix(h)
    exe = wine.beside_pictures(h, h.exe)
    # A copy under another name: the program in front, while the first one is asked to end.
    front = wine.beside_pictures(h, h.exe, "in-front.exe")
    name = os.path.basename(exe)
    figures = {}

    def record(way, took):
        figures.setdefault(way, []).append(took)

    for _ in range(ROUNDS):
        for way, ask, answer, lines in (("Exit", wine.WineProgram.leave, "End", START + LEFT),
                                        ("close button", wine.WineProgram.close, CLOSED[0],
                                         START + CLOSED)):
            program = start(h, display, prefix, exe)
            program.focus()
            way = f"{way} after a focus change"
            record(way, ask_and_time(program, way, lambda p=program, a=ask: a(p), answer, lines))

        program = interrupted_by_peer(h, display, prefix, exe)
        way = "Exit after the peer's interrupt"
        record(way, ask_and_time(program, way, program.leave, "End",
                                 START + ["Choice: 1", "Remote interrupt"] + LEFT))

        # Closed while another window is in front, as from the taskbar: WM_CLOSE without the
        # window coming to the front first.
        program = start(h, display, prefix, exe)
        other = start(h, display, prefix, front)
        way = "close in the background"
        record(way, ask_and_time(program, way, lambda: prefix.run(["taskkill", "/im", name],
                                                                  timeout=30),
                                 CLOSED[0], START + CLOSED))
        other.close()
        check(other.ends_within(WAIT), "the program in front did not end")

    for way, times in figures.items():
        print(f"{way}: ended {', '.join(f'{t:.2f}' for t in times)} s after its answer")


if __name__ == "__main__":
    main(NAME, test)
