"""Runs ./run.sh in a fresh Debian root (as its root user, through chroot) with DISPLAY on an Xvfb
of its own, waits for the game's window and main menu, then closes the window with its close
button: the game must end cleanly. Prints how long the packages, the window and the menu took.

    fresh_run.py ROOT CHECKOUT [--timeout SECONDS]

CHECKOUT is the repository's folder inside ROOT. Called by check-fresh-run.sh, which makes the
root, mounts what it needs and removes everything again."""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window"))
# pylint: disable=wrong-import-position
from harness.checks import Failure, check
from harness.program import Program
from harness.runner import Harness

GAME = "build-game/fiveinarow"  # what ./run.sh builds and starts
# A clean environment for the root, as a root shell on a new machine has.
ROOT_ENV = {"PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
            "HOME": "/root", "LANG": "C.UTF-8", "TERM": "dumb"}
# Only a limit on the build's parallelism is taken along (a busy machine may set one).
if "CMAKE_BUILD_PARALLEL_LEVEL" in os.environ:
    ROOT_ENV["CMAKE_BUILD_PARALLEL_LEVEL"] = os.environ["CMAKE_BUILD_PARALLEL_LEVEL"]
TAIL = 40


class RunInRoot(Program):
    """./run.sh started in the root's checkout. Should the display refuse the game's connection
    (see harness.display.DISPLAY_REFUSED), the game it built is started again by itself, its output
    added to that of ./run.sh. A slow window is no reason to start again: the packages and the build
    take their time."""

    window_timeout = 300.0
    stuck = float("inf")
    window_step = 0.25
    output_mode = "ab"

    def __init__(self, h, display, root, checkout):
        self.root, self.checkout = root, checkout
        self.run_started = self.installed = None
        super().__init__(h, display, h.scratch, dict(ROOT_ENV, DISPLAY=display.name))

    def inside(self, path):
        return os.path.join(self.root, self.checkout.lstrip("/"), path)

    def command(self):
        command = "./run.sh" if self.starts == 1 else "./" + GAME
        return ["chroot", self.root, "/bin/sh", "-c", f'cd "$1" && exec {command}', "sh",
                self.checkout]

    def start(self):
        super().start()
        if self.run_started is None:
            self.run_started = self.started_at

    def since_run(self):
        return time.monotonic() - self.run_started

    def refused(self):
        # Only the game it built talks to the display.
        return os.path.exists(self.inside(GAME)) and super().refused()

    def window_found(self):
        # The build folder appears once the packages are there.
        if self.installed is None and os.path.isdir(self.inside(os.path.dirname(GAME))):
            self.installed = self.since_run()
        return super().window_found()


class FreshHarness(Harness):
    """Reports the tails of the outputs only: ./run.sh writes the package installation's."""

    def report_failure(self):
        for p in self.programs:
            for stream in ("stdout", "stderr"):
                print(f"--- ./run.sh {stream} (last {TAIL} lines) ---", file=sys.stderr)
                print("\n".join(p.lines(stream)[-TAIL:]), file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n", maxsplit=1)[0])
    parser.add_argument("root")
    parser.add_argument("checkout")
    parser.add_argument("--timeout", type=float, default=300.0,
                        help="seconds from the start of ./run.sh to the window")
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    data = os.path.join(root, args.checkout.lstrip("/"), "data")
    try:
        with FreshHarness("fresh_run", None, data, None) as h:
            game = RunInRoot(h, h.display(), root, args.checkout)
            game.wait_for_window(args.timeout)
            window_after = game.since_run()
            game.wait_for_menu()
            menu_after = game.since_run()
            installed = "?" if game.installed is None else f"{game.installed:.0f}"
            print(f"./run.sh in the fresh root: packages installed after {installed} s, "
                  f"window after {window_after:.0f} s, main menu after {menu_after:.0f} s"
                  + (f" (the game started {game.starts} times)" if game.starts > 1 else ""))

            game.close()
            status = game.wait_for_exit()
            check(status == 0, f"exit status {status} after the close button")
            check(game.lines()[-2:] == ["End: close button", "system done"],
                  f"the game's last lines: {game.lines()[-2:]}")
            errors = [line for line in game.lines("stderr") if line.startswith("Error")]
            check(not errors, f"error output: {errors}")
    except Failure as e:
        print(f"FAILED fresh-machine run: {e}", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
