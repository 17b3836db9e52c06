"""How soon the games hosted on the network are listed at the slave's address prompt, and what
the list costs while the prompt and the master's wait rest.

Machines of its own on a bridge (tests/window/netplay/lan.py), in private network and mount
namespaces (as the window tests run): a master at 10.7.0.1, a slave at 10.7.0.2. Measured, as
medians over ROUNDS, by reading the slave's window with XGetImage as fast as the X server answers:
- prompt opened → listed: from the first frame with "Master's address: " to the first with the
  list's heading, the master waiting (0 when the first frame has it already); and both from the
  click on the slave's button;
- master started → listed: from the Enter that ends the master's nick prompt to the list's
  heading on the slave's open prompt.
Then each program's share of one core over SECONDS, the slave resting at its prompt with the
master listed and the master resting in its wait, beside the bare graphics program
(bench/bare_allegro.cpp) over the same seconds. Asserts nothing; prints the figures and the goals.

Usage: lan_bench.py GAME --data DATA --text-mask HELPER --bare BARE [--rounds 9] [--seconds 10]
"""

import argparse
import ctypes
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "window"))
# pylint: disable=wrong-import-position
from harness.checks import check
from harness.desktop import x_image
from harness.geometry import MAIN_MENU, SUB_MENU
from harness.program import Program
from harness.runner import Harness, private_network
from netplay.lan import HEADING_Y, LIST_X, Lan
from netplay.screens import ADDRESS_PROMPT, NICK_PROMPT, ORANGE, PROMPT_AT, answer, dismiss

GOAL_OPENED_MS = 50.0
GOAL_STARTED_MS = 100.0
GOAL_POINTS = 0.5
TICKS = os.sysconf("SC_CLK_TCK")
# The prompt's line and the list's heading, in one read of the window.
BOX = (LIST_X, PROMPT_AT[1], 200, HEADING_Y + 8 - PROMPT_AT[1])


class Reader:
    """Reads a box of a program's window straight from its X server."""

    def __init__(self, program, box=BOX):
        self.box = box
        self.x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.connection = self.x11.XOpenDisplay(program.display.name.encode())
        check(self.connection, "no connection to the display")
        self.window = int(program.window)

    def lit(self, rows):
        """Whether any pixel of the box's rows `rows` (relative to the box) is not black."""
        raw, line, _, bits = x_image(self.x11, self.connection, self.window, self.box)
        width = self.box[2] * bits // 8
        return any(raw[r * line:r * line + width].strip(b"\0") for r in rows)

    def until(self, rows, since, timeout=10.0):
        """Seconds from `since` until those rows are lit."""
        while not self.lit(rows):
            check(time.perf_counter() - since < timeout, "nothing shown in time")
        return time.perf_counter() - since


PROMPT_ROWS = range(0, 8)
HEADING_ROWS = range(HEADING_Y - PROMPT_AT[1], HEADING_Y - PROMPT_AT[1] + 8)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def shares(programs, seconds):
    before = {name: cpu_seconds(p.proc.pid) for name, p in programs.items()}
    start = time.monotonic()
    time.sleep(seconds)
    took = time.monotonic() - start
    return {name: 100 * (cpu_seconds(p.proc.pid) - before[name]) / took
            for name, p in programs.items()}


class Bare(Program):
    def __init__(self, harness, display, exe):
        self.exe = exe
        super().__init__(harness, display, harness.workdir(), dict(display.env))

    def command(self):
        return [self.exe, self.harness.data]


def to_slave_button(slave):
    slave.choose("mi_net.tga")
    slave.wait_for_menu(SUB_MENU, "the network sub-menu")
    slave.move(*slave.button_centre("net_slave.tga", SUB_MENU))


def back_to_menu(slave):
    """Escape at both prompts: the empty address fails to connect; its notice is dismissed."""
    slave.key("Escape", lambda img: slave.text_shown(img, *PROMPT_AT, NICK_PROMPT, ORANGE))
    slave.key("Escape")
    dismiss(slave)
    slave.wait_for_menu(MAIN_MENU)


def bench(h, options):
    lan = Lan(h, "10.7.0")
    master = lan.program(lan.machine("10.7.0.1"))
    slave = lan.program(lan.machine("10.7.0.2"))
    for program in (master, slave):
        program.wait_for_menu()
    reader = Reader(slave)

    opened, clicked, clicked_prompt = [], [], []
    master.choose("mi_net.tga")
    master.wait_for_menu(SUB_MENU, "the network sub-menu")
    master.choose("net_master.tga", SUB_MENU)
    answer(master, NICK_PROMPT, "anna")
    for _ in range(options.rounds):
        to_slave_button(slave)
        since = time.perf_counter()
        slave.press()
        slave.release()
        clicked_prompt.append(reader.until(PROMPT_ROWS, since) * 1000)
        shown = time.perf_counter()
        opened.append(reader.until(HEADING_ROWS, shown) * 1000)
        clicked.append((time.perf_counter() - since) * 1000)
        back_to_menu(slave)

    started = []
    to_slave_button(slave)
    slave.press()
    slave.release()
    reader.until(PROMPT_ROWS, time.perf_counter())
    for _ in range(options.rounds):
        master.key("Escape")
        master.wait_for_menu(MAIN_MENU)
        # The master's word that it has gone clears the slave's list.
        while reader.lit(HEADING_ROWS):
            time.sleep(0.005)
        master.choose("mi_net.tga")
        master.wait_for_menu(SUB_MENU, "the network sub-menu")
        master.choose("net_master.tga", SUB_MENU)
        master.wait_for_screen(lambda img: master.text_shown(img, *PROMPT_AT, NICK_PROMPT, ORANGE),
                               "the nick prompt")
        master.type_text("anna")
        master.display.xdotool("keydown", "Return")
        since = time.perf_counter()
        master.display.xdotool("keyup", "Return")
        started.append(reader.until(HEADING_ROWS, since) * 1000)

    bare = Bare(h, h.display(), options.bare)
    bare.wait_for_window()
    time.sleep(1)
    idle = shares({"slave at its prompt": slave, "master in its wait": master, "bare": bare},
                  options.seconds)

    print(f"prompt opened -> listed: median {statistics.median(opened):.1f} ms "
          f"(goal <= {GOAL_OPENED_MS:g}); {', '.join(f'{t:.0f}' for t in opened)}")
    print(f"  (from the click on the slave's button: prompt {statistics.median(clicked_prompt):.1f} "
          f"ms, listed {statistics.median(clicked):.1f} ms)")
    print(f"master started -> listed: median {statistics.median(started):.1f} ms "
          f"(goal <= {GOAL_STARTED_MS:g}); {', '.join(f'{t:.0f}' for t in started)}")
    for name in ("slave at its prompt", "master in its wait"):
        print(f"{name}: {idle[name]:.2f} % of a core, bare library {idle['bare']:.2f} % "
              f"(goal within {GOAL_POINTS:g} point)")


def run(name, doc, measure, more=lambda parser: None):
    """The command line of a benchmark of the game beside the bare program (further arguments
    added by `more`), then measure(harness, options) in private network and mount namespaces."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("game")
    parser.add_argument("--data", required=True)
    parser.add_argument("--text-mask", required=True)
    parser.add_argument("--bare", required=True)
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--seconds", type=float, default=10.0)
    more(parser)
    options = parser.parse_args()
    private_network(name, mount=True)
    with Harness(name, os.path.abspath(options.game), os.path.abspath(options.data),
                 os.path.abspath(options.text_mask)) as h:
        options.bare = os.path.abspath(options.bare)
        measure(h, options)


if __name__ == "__main__":
    run("lan_bench", __doc__, bench)
