"""The Windows program ends promptly under wine whichever way it is asked to, also after the
window's focus changed and while another window is in front: each ask is answered with its line
on standard output, then "Done" after the graphics library has shut down, status 0, and the end of
the process within END seconds of the answer. Each way is tried ROUNDS times, as an exit that hangs did so
in most tries, not all.

Usage: test_exit.py PROGRAM --data DATA --text-mask /dev/null [--rounds N], where PROGRAM is a
Windows build of the bare graphics program (bench/bare_allegro.cpp) or a program that behaves the
same way at its main menu.
"""

import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window"))
# pylint: disable=wrong-import-position
import wine
from harness import WAIT, Failure, check, main

END = 2.0
ROUNDS = int(os.environ.get("EXIT_ROUNDS", "3"))
EXIT_BUTTON = (616, 500)


def start(h, display, prefix, exe):
    """The program on `display`, its first frame shown and ready for input."""
    program = wine.WineProgram(h, display, prefix, exe, cwd=h.workdir(), args=["data"])
    program.wait_for_menu({"mi_exit.tga": EXIT_BUTTON}, "the menu picture and the exit button")
    program.wait_for_line("First frame")
    program.ready_for_input()
    return program


def ask_and_time(program, way, ask, answer):
    """Asks the program to end with ask(); checks its answer, its clean end and how soon after
    the answer it ended."""
    ask()
    program.wait_for_line(answer)
    answered = time.monotonic()
    if not program.ends_within(END):
        raise Failure(f"{way}: the program did not end within {END:g} s of its answer "
                      f"{answer!r}; output {program.lines()}")
    took = time.monotonic() - answered
    check(program.proc.returncode == 0, f"{way}: exit status {program.proc.returncode}")
    check(program.lines() == ["First frame", answer, "Done"], f"{way}: output {program.lines()}")
    return took


def test(h):
    display = h.display()
    prefix = wine.prefix(h)
    # A copy under another name: the program in front, while the first one is asked to end.
    front = os.path.join(h.scratch, "in-front.exe")
    shutil.copy(h.exe, front)
    name = os.path.basename(h.exe)
    figures = {}

    def record(way, took):
        figures.setdefault(way, []).append(took)

    for _ in range(ROUNDS):
        for way, answer in (("key", "Key"), ("close button", "Close button"),
                            ("exit button", "Exit button")):
            program = start(h, display, prefix, h.exe)
            display.xdotool("windowfocus", program.window)
            ask = {
                "key": lambda p=program: p.hold_key("space"),
                "close button": lambda p=program: display.close_window(p.window),
                "exit button": lambda p=program: p.click_at(
                    EXIT_BUTTON[0] + 80, EXIT_BUTTON[1] + 24),
            }[way]
            way = f"{way} after a focus change"
            record(way, ask_and_time(program, way, ask, answer))

        # Closed while another window is in front, as from the taskbar: WM_CLOSE without the
        # window coming to the front first.
        program = start(h, display, prefix, h.exe)
        other = start(h, display, prefix, front)
        way = "close in the background"
        record(way, ask_and_time(program, way, lambda: prefix.run(["taskkill", "/im", name],
                                                                  timeout=30), "Close button"))
        display.close_window(other.window)
        check(other.ends_within(WAIT), "the program in front did not end")

    for way, times in figures.items():
        print(f"{way}: ended {', '.join(f'{t:.2f}' for t in times)} s after its answer")


if __name__ == "__main__":
    main("windows_exit", test)
