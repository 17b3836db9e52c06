"""The game as a test runs it: its process, output, window and screenshots."""

import os
import subprocess
import sys
import time

from .checks import WAIT, QUIET, Failure, NotEnlarged, check, poll
from .display import ATTEMPTS, die_with_parent, stop_process, try_tool
from .geometry import SCREEN_H, SCREEN_W
from .inputs import Input
from .pictures import reduced
from .screens import Screens


WINDOW_NAME = "Five in a row"
# A program whose window has not appeared by then is taken to hang in a connection that never
# completed (the window appears within a fraction of a second otherwise).
STUCK = 4.0


class Program(Screens, Input):
    """The game running in a folder of its own, shown on `display` (None: no display at all)."""

    # How long its window may take to appear, and after how long without one the program is
    # taken to hang in a connection to the display and started again.
    window_timeout = WAIT
    stuck = STUCK
    # How often to look for the window meanwhile.
    window_step = 0.02
    # How a start opens the output files ("ab": what earlier starts wrote stays).
    output_mode = "wb"

    def __init__(self, harness, display, cwd, env, scale=1):
        self.harness, self.display, self.cwd = harness, display, cwd
        # How many times the window enlarges the frame: screenshots are of the frame (each block
        # of the window checked to be of one colour), places are the frame's.
        self.scale = scale
        # Whether the game draws its arrow into its frames: where the display takes no colour
        # cursor. Elsewhere the arrow is the display's cursor over the window, never in a frame.
        self.draws_arrow = display is not None and not display.cursors
        self.out_path = os.path.join(cwd, "stdout.txt")
        self.err_path = os.path.join(cwd, "stderr.txt")
        self.env = env
        self.window = None
        self.origin = (0, 0)  # of the window on the screen
        self.pointer_at = None  # where the test last put the pointer
        self.trail = []  # where the program may have drawn it since
        self.synced = False  # whether the program's pointer follows the real one
        self.last_shot = None
        self.starts = 0
        # Registered before it starts: the harness stops it however the test ends.
        harness.programs.append(self)
        self.start()

    def start(self):
        self.starts += 1
        self.synced = False
        self.started_at = time.monotonic()
        with open(self.out_path, self.output_mode) as out, \
                open(self.err_path, self.output_mode) as err:
            self.proc = subprocess.Popen(self.command(), cwd=self.cwd, env=self.env,
                                         stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                         preexec_fn=die_with_parent)

    def command(self):
        """The command line that starts the program."""
        return [self.harness.exe]

    def window_search(self):
        """What `xdotool search` finds the program's window by."""
        return ["--name", f"^{WINDOW_NAME}$"]

    def refused(self):
        """Whether the program ended at once because the display refused its connection (see
        DISPLAY_REFUSED): before "Initing net" and without an error of its own pictures."""
        return (self.display is not None and not self.running()
                and "Initing net" not in self.lines()
                and not any(line.startswith("Error: Load bitmap") for line in self.lines("stderr")))

    def start_again_if_refused(self):
        """Starts the program once more after a refused connection; false when it was not
        refused or has been started often enough."""
        if not self.refused() or self.starts >= ATTEMPTS:
            return False
        print(f"the program ended at start-up ({self.proc.returncode}, {self.lines('stderr')}): "
              "starting it again", file=sys.stderr)
        self.start()
        return True

    # -- output --

    def lines(self, stream="stdout", everything=False):
        """The lines the program wrote on `stream`; `everything`: with those of the system that
        runs it (see WineProgram)."""
        path = self.out_path if stream == "stdout" else self.err_path
        with open(path, "r", errors="replace") as f:
            return f.read().splitlines()

    def wait_for_line(self, line, stream="stdout", timeout=WAIT):
        for _ in poll(timeout, f"the line {line!r} on {stream}"):
            ended = not self.running()
            if line in self.lines(stream):
                return
            check(not ended, f"the program ended ({self.proc.returncode}) without writing "
                  f"{line!r} on {stream}")

    def wait_for_exit(self, timeout=WAIT):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired as e:
            raise Failure(f"the program did not end within {timeout:g} s") from e

    def expect_clean_exit(self, lines):
        """The program ends with status 0, having written exactly `lines` on standard output and
        nothing on standard error."""
        status = self.wait_for_exit()
        check(status == 0, f"exit status {status}")
        check(self.lines() == lines, f"output: {self.lines()}")
        check(self.lines("stderr") == [], f"error output: {self.lines('stderr')}")

    def wait_for_start_up_failure(self, timeout=WAIT):
        """For a program expected to end during start-up: waits for its end, starting it again
        when the display refused it; returns its exit status."""
        while True:
            status = self.wait_for_exit(timeout)
            if not self.start_again_if_refused():
                return status

    def running(self):
        return self.proc.poll() is None

    def state(self):
        """How the program stands, in words: running, or its exit status."""
        status = self.proc.poll()
        if status is None:
            return "running"
        return f"ended by signal {-status}" if status < 0 else f"exit status {status}"

    def ends_within(self, timeout):
        """Whether the program has ended, or ends within `timeout` seconds."""
        try:
            self.proc.wait(timeout=timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    # -- window and screen --

    def wait_for_window(self, timeout=None):
        for _ in poll(timeout or self.window_timeout,
                      f"the window {WINDOW_NAME!r} on {self.display.name}", step=self.window_step):
            if self.start_again_if_refused():
                continue
            if (self.running() and time.monotonic() - self.started_at > self.stuck
                    and self.starts < ATTEMPTS):
                print(f"no window after {self.stuck:g} s: starting the program again",
                      file=sys.stderr)
                stop_process(self.proc)
                self.start()
                continue
            check(self.running(), f"the program ended ({self.proc.returncode}) before its "
                  "window appeared")
            if self.window_found():
                break

    def window_found(self):
        """Whether the window has appeared; once it has, self.window and self.origin say where."""
        # Finding no window is a failure to xdotool.
        found, _ = try_tool(["xdotool", "search", *self.window_search()], self.display.env)
        if not (found and found.split()):
            return False
        self.window = found.split()[-1].decode()
        # Pointer moves use screen coordinates, which stay valid once the window has closed.
        geometry = self.window_geometry()
        self.origin = (geometry["X"], geometry["Y"])
        return True

    def window_geometry(self):
        """The window's place and size on the screen: X, Y, WIDTH and HEIGHT."""
        return {name: int(value) for name, value in (line.split("=", 1) for line in
                self.display.xdotool("getwindowgeometry", "--shell", self.window).split())
                if name in ("X", "Y", "WIDTH", "HEIGHT")}

    def screenshot(self):
        """The window's 800 x 600 pixels as they are on the display now."""
        try:
            shot = self.display.screenshot(self.window)
        except Failure:
            # The window goes with the program.
            check(self.running(), f"the program ended ({self.proc.returncode})")
            raise
        check((shot.width, shot.height) == (SCREEN_W * self.scale, SCREEN_H * self.scale),
              f"the window is {shot.width} x {shot.height}, not {self.scale} times the frame")
        self.last_shot = reduced(shot, self.scale) if self.scale != 1 else shot
        return self.last_shot

    def wait_for_screen(self, condition, what, timeout=WAIT, pointer=None):
        """Takes screenshots until condition(image) holds; returns that image. With `pointer`,
        the pointer is moved there first, and again now and then while the wait lasts (see
        move)."""
        for attempt in poll(timeout, what, step=0.01):
            if pointer is not None and attempt % 10 == 0:
                self.move_blind(*pointer)
            shot = self.try_screenshot(what)
            if shot is not None and condition(shot):
                return shot

    def try_screenshot(self, what):
        """A screenshot, or None when the window cannot be read just now (it may not be mapped
        yet); fails the test when the program has ended."""
        check(self.running(), f"the program ended ({self.proc.returncode}) while waiting for "
              f"{what}")
        try:
            return self.screenshot()
        except NotEnlarged:
            raise
        except Failure:
            return None

    def expect_steady(self, condition, what, duration=QUIET):
        """Checks that condition(image) holds on every screenshot for `duration` seconds."""
        end = time.monotonic() + duration
        while True:
            check(self.running(), f"the program ended ({self.proc.returncode}) while "
                  f"{what} was expected")
            check(condition(self.screenshot()), f"no longer {what}")
            if time.monotonic() > end:
                return
            time.sleep(0.05)

    def stop(self):
        stop_process(self.proc)
