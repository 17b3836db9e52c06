"""Start-up to the first frame, on Linux and under wine side by side: from starting the program
(the `wine` command for the Windows build) to its first frame on the display, found by polling
screenshots for the menu picture's pixels, repeated a few times. Prints every run, the medians and
the ratio of wine to Linux, and the sizes of the Windows program and zip. Asserts nothing.

Usage: start_bench.py --linux BARE --windows BARE.EXE --data DATA [--runs N]
           [--exe FIVEINAROW.EXE] [--zip ZIP]

The programs are the bare graphics program (bench/bare_allegro.cpp) of each build. The game's own
figures go beside them once the game builds for Windows (see GAME below).
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
from harness import Harness, Program

EXIT_BUTTON = {"mi_exit.tga": (616, 500)}
# The game's figures, once it builds for Windows (FIVEINAROW_WINDOWS_GAME in cmake/windows.cmake):
# its main menu on Linux and under wine, measured the same way, to go in this list as
# (name, Linux program, Windows program, the buttons its first frame shows). Empty until then.
GAME = []


class LinuxProgram(Program):
    """A Linux program given its picture folder as its argument."""

    def __init__(self, harness, display, exe, data):
        self.exe, self.data = exe, data
        super().__init__(harness, display, harness.workdir(), dict(display.env))
        harness.programs.append(self)

    def command(self):
        return [self.exe, self.data]


def first_frame(program, buttons):
    """Seconds from the program's start to its first frame showing `buttons` on the menu."""
    program.wait_for_menu(buttons, "the first frame")
    return time.monotonic() - program.started_at


def end(program):
    program.display.close_window(program.window)
    program.wait_for_exit()


def measure(h, display, prefix, linux, windows, buttons, runs):
    """Lists of start-up times: Linux, wine (one start of each in turn, so that both see the same
    load of the machine)."""
    times = ([], [])
    for _ in range(runs):
        program = LinuxProgram(h, display, linux, h.data)
        times[0].append(first_frame(program, buttons))
        end(program)
        program = wine.WineProgram(h, display, prefix, windows, cwd=h.workdir(), args=["data"])
        times[1].append(first_frame(program, buttons))
        end(program)
    return times


def report(name, times):
    linux, windows = (statistics.median(t) for t in times)
    print(f"{name}, start to first frame (s), {len(times[0])} runs each:")
    print(f"  Linux:      median {linux:.3f}  runs {' '.join(f'{t:.3f}' for t in times[0])}")
    print(f"  wine:       median {windows:.3f}  runs {' '.join(f'{t:.3f}' for t in times[1])}")
    print(f"  wine/Linux: {windows / linux:.1f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--linux", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--runs", type=int, default=5)
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
        # One start first that is not counted: the first wine program of a prefix starts its
        # wineserver and services, which later starts find running.
        warm_up = wine.WineProgram(h, display, prefix, os.path.abspath(args.windows),
                                   cwd=h.workdir(), args=["data"])
        first_frame(warm_up, EXIT_BUTTON)
        end(warm_up)
        report("bare graphics program", measure(h, display, prefix, os.path.abspath(args.linux),
                                                os.path.abspath(args.windows), EXIT_BUTTON,
                                                args.runs))
        for name, linux, windows, buttons in GAME:
            report(name, measure(h, display, prefix, linux, windows, buttons, args.runs))
        if not GAME:
            print("game: not built for Windows yet (FIVEINAROW_WINDOWS_GAME)")
    for what, path in (("Windows program", args.exe), ("Windows zip", args.zip)):
        if path:
            print(f"{what}: {os.path.getsize(path)} bytes ({os.path.basename(path)})")


if __name__ == "__main__":
    main()
