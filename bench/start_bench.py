"""Start-up to the first frame, on Linux and under wine side by side: from starting the program
(the `wine` command for a Windows build) to its first frame on the display, found by polling
screenshots for the menu pictures' pixels, repeated a few times. The bare graphics program
(bench/bare_allegro.cpp) and the game are measured in turn on each round, so that both see the
same load of the machine; both Windows programs are started the same way, from a folder of their
own with the pictures in data\\ beside them. Prints every run, the medians, the ratios of wine to
Linux and of the game to the bare program under wine (target: at most GAME_TARGET), and the sizes
of the Windows game and zip beside their targets. Asserts nothing.

Usage: start_bench.py --linux BARE --windows BARE.EXE --data DATA [--runs N]
           [--linux-game GAME --windows-game GAME.EXE] [--exe FIVEINAROW.EXE] [--zip ZIP]
"""

import argparse
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "window"))
# pylint: disable=wrong-import-position
import wine
from harness.geometry import MAIN_MENU
from harness.program import Program
from harness.runner import Harness

EXIT_BUTTON = {"mi_exit.tga": MAIN_MENU["mi_exit.tga"]}
# The game's start-up under wine against the bare program's, and the sizes, at most.
GAME_TARGET = 1.2
MIB = 1024 * 1024
SIZE_TARGETS = {"Windows program": 4 * MIB, "Windows zip": 3 * MIB}


class LinuxProgram(Program):
    """A Linux program given its picture folder as its argument (the game reads data/ of its
    working folder instead, which has it too)."""

    def __init__(self, harness, display, exe, data):
        self.exe, self.data = exe, data
        super().__init__(harness, display, harness.workdir(), dict(display.env))

    def command(self):
        return [self.exe, self.data]


def first_frame(program, buttons):
    """Seconds from the program's start to its first frame showing `buttons` on the menu."""
    program.wait_for_menu(buttons, "the first frame")
    return time.monotonic() - program.started_at


def end(program):
    program.display.close_window(program.window)
    program.wait_for_exit()


def measure(h, display, prefix, subjects, runs):
    """{name: ([Linux times], [wine times])} of the subjects (name, Linux program, Windows
    program, the buttons of its first frame), each started once on Linux and once under wine in
    turn on every round."""
    times = {name: ([], []) for name, *_ in subjects}
    for _ in range(runs):
        for name, linux, windows, buttons in subjects:
            program = LinuxProgram(h, display, linux, h.data)
            times[name][0].append(first_frame(program, buttons))
            end(program)
            program = wine.WineProgram(h, display, prefix, windows)
            times[name][1].append(first_frame(program, buttons))
            end(program)
    return times


def report(name, times):
    """Prints the figures of one subject; returns its median under wine."""
    linux, windows = (statistics.median(t) for t in times)
    print(f"{name}, start to first frame (s), {len(times[0])} runs each:")
    print(f"  Linux:      median {linux:.3f}  runs {' '.join(f'{t:.3f}' for t in times[0])}")
    print(f"  wine:       median {windows:.3f}  runs {' '.join(f'{t:.3f}' for t in times[1])}")
    print(f"  wine/Linux: {windows / linux:.1f}x")
    return windows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--linux", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--linux-game", help="the game built for Linux")
    parser.add_argument("--windows-game", help="the game built for Windows")
    parser.add_argument("--exe", help="the packaged Windows program, for its size")
    parser.add_argument("--zip", help="the Windows zip, for its size")
    args = parser.parse_args()

    print(f"Machine: {os.cpu_count()} CPUs, load average "
          f"{' '.join(open('/proc/loadavg').read().split()[:3])} at start")
    with Harness("start_bench", None, os.path.abspath(args.data), "/dev/null") as h:
        display = h.display()
        started = time.monotonic()
        prefix = wine.prefix(h)
        print(f"wine prefix ready in {time.monotonic() - started:.1f} s (copied from the "
              "booted template in the cache)")
        subjects = [("bare graphics program", os.path.abspath(args.linux),
                     wine.beside_pictures(h, os.path.abspath(args.windows)), EXIT_BUTTON)]
        if args.linux_game and args.windows_game:
            subjects.append(("game", os.path.abspath(args.linux_game),
                             wine.beside_pictures(h, os.path.abspath(args.windows_game)),
                             MAIN_MENU))
        # One start of each first that is not counted: the first wine program of a prefix starts
        # its wineserver and services, which later starts find running, and each program's
        # first start reads it from the disk.
        for _, _, windows, buttons in subjects:
            warm_up = wine.WineProgram(h, display, prefix, windows)
            first_frame(warm_up, buttons)
            end(warm_up)
        times = measure(h, display, prefix, subjects, args.runs)
        medians = {name: report(name, times[name]) for name in times}
        if "game" in medians:
            ratio = medians["game"] / medians["bare graphics program"]
            print(f"game/bare program under wine: {ratio:.2f}x (target at most "
                  f"{GAME_TARGET:g}x: {'met' if ratio <= GAME_TARGET else 'MISSED'})")
        else:
            print("game: not measured (--linux-game and --windows-game name it)")
    for what, path in (("Windows program", args.exe), ("Windows zip", args.zip)):
        if path:
            size, target = os.path.getsize(path), SIZE_TARGETS[what]
            print(f"{what}: {size} bytes, {size / MIB:.2f} MiB (target at most "
                  f"{target // MIB} MiB: {'met' if size <= target else 'MISSED'}; "
                  f"{os.path.basename(path)})")


if __name__ == "__main__":
    main()
