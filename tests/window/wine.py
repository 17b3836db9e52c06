"""Windows programs under wine, for the tests of the Windows build.

A WinePrefix is a wine installation of a test's own in its scratch folder: wine writes nothing to
the home folder, and what a test installs, runs and leaves behind stays there. Booting a prefix
takes 15-25 s, so one is booted once into the cache (a template) and copied for each test (about
2 s). `wineserver -k` ends whatever still runs in it when the test ends.

A WineProgram is a harness Program (window title, screenshots, xdotool input) started with wine in
such a prefix. Input reaches a wine window as it does a Linux one, keys going to the window under
the pointer; wine wants the pointer in the window and half a second after the window shows before
the first key. On a busy machine wine passes an input on late: WineProgram
makes each key and click once and waits for the program's own sign that it took it (the screen it
draws next), holding a button until then, and moves the pointer again by way of a pixel next to
its place. Typed keys are let go at once (the library repeats a held key itself, whatever the
display's auto-repeat says) and typed one at a time, each once the one before shows.

    def test(h):
        prefix = wine.prefix(h)
        program = wine.WineProgram(h, h.display(), prefix, "C:\\\\...\\\\fiveinarow.exe")
        program.wait_for_window()

The template's wine shows windows unmanaged: there is no window manager on the test displays, and
wine would otherwise wait for one (2 s each time a window goes away). It then draws the window's
frame itself: the X window found by the title is the frame, and WineProgram reads and clicks the
program's 800 x 600 pixels inside it.

As a command, `python3 wine.py run --prefix DIR PROGRAM [ARGS...]` runs a Windows console
program (a unit test) in the prefix DIR, made when missing, and exits with its status: the Windows
build's CTest starts its tests so.
"""

import argparse
import fcntl
import os
import re
import selectors
import shutil
import subprocess
import sys
import tempfile
import time

from harness.checks import WAIT, Failure, check, poll
from harness.geometry import SCREEN_H, SCREEN_W
from harness.program import Program

CACHE = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"),
                     "fiveinarow")
# Raised when the template is made differently, so that an old one is not used.
TEMPLATE_FORMAT = 1
BOOT_TIMEOUT = 300
# A wine program that ends (an installer, a console program) on a busy machine.
RUN_TIMEOUT = 120
# wine takes 1-6 s to show a window here, more on a busy machine.
WINDOW_TIMEOUT = 40.0
SETTLE = 0.5
# How often a wait for an input's effect looks at the screen: each look starts an X tool, and
# wine and the program want the processor more than the test does.
LOOK = 0.05
# The keys the game polls in its loops rather than reads from its key buffer.
POLLED_KEYS = ("Escape",)
# xdotool's names of the characters that type_text types by key.
KEY_NAMES = {".": "period", " ": "space", ":": "colon", "-": "minus", "_": "underscore"}
OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
# Wine's own errors on the program's standard error, and how they begin: a test that fails shows
# them beside the program's own lines, which the tests compare without them.
WINE_ERRORS = "-all,err+all"
WINES_OWN = re.compile(r"[0-9a-f]{4}:(err|fixme|warn|trace):|wine(server|dbg)?: ")
XDG = ("CONFIG", "DATA", "CACHE", "STATE")
# Wine, with the address space laid out the same at every start. Debian's wine has no preloader to
# reserve the low addresses Windows programs expect before the C library's heap is placed, and
# its loader sits at 0x7d000000; the kernel puts the heap anywhere in the gigabyte above it, so
# about one start in 2000 finds its heap where the shared user data (0x7ffe0000) must go and
# ends at once ("failed to map the shared user data"). Unrandomized, the heap starts right
# after the loader, well below.
WINE = ["setarch", os.uname().machine, "--addr-no-randomize", "wine"]


def environment(prefix, display=None, debug="-all"):
    """The environment of wine programs in `prefix` (on `display`, or with no display), with
    wine's own messages as `debug` (WINEDEBUG) says."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(WINEPREFIX=prefix, WINEDEBUG=debug, WINEDLLOVERRIDES=OVERRIDES)
    # Like the displays' programs, none asks a router unless the test says so.
    env["FIVEINAROW_PORT_MAPPING"] = "0"
    for kind in XDG:
        env[f"XDG_{kind}_HOME"] = os.path.join(prefix, "xdg", kind.lower())
    if display is not None:
        env["DISPLAY"] = display.name
    return env


def run_to_end(args, env, timeout, cwd=None):
    """Runs a command to its end; fails the test when it does not end in time."""
    try:
        return subprocess.run(args, env=env, cwd=cwd, capture_output=True, timeout=timeout,
                              check=False)
    except subprocess.TimeoutExpired as e:
        raise Failure(f"{' '.join(args)} did not end within {timeout:g} s") from e


def ended(done):
    """How a finished command (see run_to_end) ended, in words: its exit status and the ends of
    its output and error output."""
    out, err = (stream.decode(errors="replace").strip()[-1500:] for stream in (done.stdout,
                                                                               done.stderr))
    return f"exit status {done.returncode}; output {out!r}; error output {err!r}"


class Locked:
    """Holds an exclusive lock on the file `path` while in its `with` block."""

    def __init__(self, path):
        self.path = path

    def __enter__(self):
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        self.file = open(self.path, "w")
        fcntl.flock(self.file, fcntl.LOCK_EX)
        return self

    def __exit__(self, *exc):
        self.file.close()
        return False


def wine_version():
    out = run_to_end([*WINE, "--version"], environment("/nonexistent"), 30).stdout
    return "".join(c if c.isalnum() or c in ".-" else "_" for c in out.decode().strip())


def template():
    """The booted prefix in the cache that test prefixes are copied from; boots it the first
    time (one caller at a time)."""
    path = os.path.join(CACHE, f"wine-prefix-{wine_version()}-{TEMPLATE_FORMAT}")
    with Locked(os.path.join(CACHE, ".wine-template.lock")):
        if os.path.isdir(path):
            return path
        work = tempfile.mkdtemp(dir=CACHE, prefix="wine-prefix-boot.")
        try:
            for kind in XDG:
                os.makedirs(os.path.join(work, "xdg", kind.lower()))
            env = environment(work)
            for args in ([*WINE, "wineboot", "-i"],
                         [*WINE, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v",
                          "Managed", "/d", "N", "/f"],
                         ["wineserver", "-w"]):
                done = run_to_end(args, env, BOOT_TIMEOUT)
                check(done.returncode == 0, f"{' '.join(args)} failed ({done.returncode}): "
                      f"{done.stderr.decode(errors='replace')[-2000:]}")
            os.rename(work, path)
        except BaseException:
            run_to_end(["wineserver", "-k"], environment(work), 30)
            shutil.rmtree(work, ignore_errors=True)
            raise
    return path


class WinePrefix:
    """A prefix of its own in the folder `path`, copied from the template unless it is there."""

    def __init__(self, path):
        self.path = path
        with Locked(path.rstrip("/") + ".lock"):
            if not os.path.isdir(path):
                copy = path + ".copy"
                shutil.rmtree(copy, ignore_errors=True)
                done = run_to_end(["cp", "-a", "--reflink=auto", template(), copy], None, 300)
                check(done.returncode == 0, f"copying the wine prefix: {done.stderr.decode()}")
                os.rename(copy, path)
        for kind in XDG:
            os.makedirs(os.path.join(path, "xdg", kind.lower()), exist_ok=True)

    def env(self, display=None, debug="-all"):
        return environment(self.path, display, debug)

    def unix_path(self, windows_path):
        """Where a path of the C: drive ("C:\\\\Program Files\\\\...") is in this prefix."""
        check(windows_path[:3].upper() == "C:\\", f"not on drive C: {windows_path}")
        return os.path.join(self.path, "drive_c", *windows_path[3:].split("\\"))

    def run(self, args, display=None, cwd=None, timeout=RUN_TIMEOUT):
        """Runs the Windows program args[0] with wine to its end; returns the finished process
        (returncode, stdout, stderr; wine's own errors there too: see ended)."""
        return run_to_end([*WINE, *args], self.env(display, WINE_ERRORS), timeout, cwd)

    def registry(self, key):
        """The output of `reg query KEY /s`, or None when the key does not exist."""
        done = self.run(["reg", "query", key, "/s"])
        return done.stdout.decode(errors="replace") if done.returncode == 0 else None

    def stop(self):
        """Ends every process of this prefix (its wineserver last)."""
        run_to_end(["wineserver", "-k"], self.env(), 60)
        run_to_end(["wineserver", "-w"], self.env(), 60)


def prefix(h, name="prefix"):
    """A prefix in the scratch folder of the harness `h`, ended with it."""
    p = WinePrefix(os.path.join(h.scratch, name))
    h.cleanups.append(p.stop)
    return p


def beside_pictures(h, exe, name=None):
    """A copy of the Windows program `exe` (named `name`, default its own name) in a folder of its
    own in the scratch folder of the harness `h`, with the pictures in data\\ beside it, where
    the packages put them and the game reads them wherever it is started from."""
    folder = tempfile.mkdtemp(dir=h.scratch, prefix="program-")
    os.symlink(h.data, os.path.join(folder, "data"))
    copy = os.path.join(folder, name or os.path.basename(exe))
    shutil.copy(exe, copy)
    return copy


class WineProgram(Program):
    """The Windows program `exe` (a path wine understands) run with wine in `prefix` on
    `display`, in the folder `cwd` (default: a fresh one in the scratch folder)."""

    window_timeout = WINDOW_TIMEOUT
    # wine is not restarted for a slow window: it has its own way of reaching the display.
    stuck = WINDOW_TIMEOUT

    def __init__(self, harness, display, prefix_, exe, cwd=None, args=()):
        self.prefix, self.exe, self.args = prefix_, exe, list(args)
        self.shown_at = None
        self.client = (0, 0)  # the program's pixels in the window
        super().__init__(harness, display, cwd or tempfile.mkdtemp(dir=harness.scratch,
                                                                   prefix="run-"),
                         prefix_.env(display, WINE_ERRORS))

    def command(self):
        return [*WINE, self.exe, *self.args]

    def refused(self):
        return False

    def lines(self, stream="stdout", everything=False):
        """The program's lines; wine's own (its errors, on standard error) only with
        `everything`."""
        lines = super().lines(stream)
        return lines if everything else [line for line in lines if not WINES_OWN.match(line)]

    def window_search(self):
        # Other wine programs of the test may show windows of the same title.
        return ["--all", "--pid", str(self.proc.pid), *super().window_search()]

    def wait_for_window(self, timeout=None):
        super().wait_for_window(timeout)
        # The window appears before the program gives it its size. Then the frame wine draws
        # around the program's pixels: the same border left, right and below, the title bar above.
        for _ in poll(timeout or self.window_timeout, "the window to take the program's size"):
            check(self.running(), f"the program ended ({self.proc.returncode})")
            geometry = self.window_geometry()
            side = (geometry["WIDTH"] - SCREEN_W) // 2
            top = geometry["HEIGHT"] - SCREEN_H - side
            if side >= 0 and top >= 0:
                break
        self.shown_at = time.monotonic()
        self.client = (side, top)
        self.origin = (geometry["X"] + side, geometry["Y"] + top)

    def screenshot(self):
        """The program's 800 x 600 pixels, inside wine's frame."""
        try:
            frame = self.display.screenshot(self.window)
        except Failure:
            check(self.running(), f"the program ended ({self.proc.returncode})")
            raise
        x, y = self.client
        check(frame.width >= x + SCREEN_W and frame.height >= y + SCREEN_H,
              "the window changed its size")
        self.last_shot = frame.crop(x, y, SCREEN_W, SCREEN_H)
        return self.last_shot

    def ready_for_input(self):
        """Puts the pointer in the middle of the window, once wine takes input there."""
        if self.window is None:
            self.wait_for_window()
        self.move_blind(SCREEN_W // 2, SCREEN_H // 2)
        time.sleep(max(0.0, self.shown_at + SETTLE - time.monotonic()))

    def focus(self):
        """Gives the window the keyboard focus, as a click on the taskbar or Alt+Tab does."""
        self.display.xdotool("windowfocus", self.window)

    def leave(self):
        """Clicks Exit in the main menu, the button held until the program says it ends."""
        self.click_at(*self.button_centre("mi_exit.tga"), lambda: "End" in self.lines(),
                      "the line 'End' after a click on Exit")

    def key(self, name, seen=None, what=None):
        """Presses a key once and waits until the program has taken it: until seen(screenshot)
        holds, or else until the screen changes. The keys the game polls (POLLED_KEYS) are held
        until then, as Program.key holds them. The others, which it takes as typed keys, go to
        the display as a press and its release in one call, with no pause between: the library
        repeats a key held for a quarter of a second itself, and the display's auto-repeat does
        not reach it under wine, so a release that a busy machine held up would type the key
        twice (and a key pressed again because its effect came late would too)."""
        what = what or f"the key {name}"
        taken = self.effect(seen, what)
        if name in POLLED_KEYS:
            self.display.xdotool("keydown", name)
            try:
                self.until(taken, what)
            finally:
                self.display.xdotool("keyup", name)
        else:
            self.display.xdotool("key", "--delay", "0", name)
            self.until(taken, what)

    def type_text(self, text):
        """Types `text` key by key, each once the program has drawn the one before (a prompt
        draws every key it takes)."""
        for character in text:
            self.key(KEY_NAMES.get(character, character), what=f"{character!r} typed")

    def click(self, x, y, seen=None, what=None):
        """Clicks at (x, y) once, the button held until the program has taken the press: until
        seen(screenshot) holds, or else the screen changes. Where the game's arrow is the
        display's cursor no frame shows the press itself, and wine may pass it on late on a
        busy machine: its effect is the sign."""
        what = what or f"a click at ({x}, {y})"
        self.click_at(x, y, self.effect(seen, what), what)

    def effect(self, seen, what):
        """Whether an input made now has shown its effect: seen(screenshot), or else a screen
        other than the one shown now."""
        before = self.steady_screen()
        condition = seen or (lambda shot: self.changed(before, shot))

        def taken():
            shot = self.try_screenshot(what)
            return shot is not None and condition(shot)

        return taken

    def click_at(self, x, y, taken, what):
        """Presses the left button at (x, y) of the window and holds it until taken() holds."""
        self.move_blind(x, y)
        self.display.xdotool("mousedown", "1")
        try:
            self.until(taken, what)
        finally:
            self.display.xdotool("mouseup", "1")

    def until(self, taken, what):
        """Waits until taken() holds: the program's own sign that it took an input. One input,
        never made again: on a busy machine wine passes it on late, and one made again would
        then be taken twice."""
        for _ in poll(WAIT, f"the program to take {what}", step=LOOK):
            if taken():
                return

    def move_blind(self, x, y):
        """Moves the pointer without looking; where it is there already, by way of a pixel next
        to it, so that a move that wine dropped is made again."""
        if self.pointer_at == (x, y):
            step = self.neighbour(x, y)
            super().move_blind(*step)
            super().move_blind(x, y)
            self.trail = [step, (x, y)]
        else:
            super().move_blind(x, y)


def run_console(prefix_, args):
    """Runs the console program args[0] in `prefix_` and returns its exit status, passing its
    output on as it comes, wine's own errors included, and saying how it ended when it failed.
    The output goes through pipes of this script's own: the wineserver and the system processes
    that the first program of a prefix starts keep that program's standard descriptors open for
    as long as they live, and a caller that reads to their end (CTest) would wait for them."""
    proc = subprocess.Popen([*WINE, *args], env=prefix_.env(debug=WINE_ERRORS),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    with selectors.DefaultSelector() as pipes:
        for pipe, to in ((proc.stdout, sys.stdout.buffer), (proc.stderr, sys.stderr.buffer)):
            os.set_blocking(pipe.fileno(), False)
            pipes.register(pipe, selectors.EVENT_READ, to)

        def pass_on(pipe, to):
            while True:
                try:
                    data = os.read(pipe.fileno(), 65536)
                except BlockingIOError:
                    return
                if not data:
                    pipes.unregister(pipe)
                    return
                to.write(data)
                to.flush()

        while proc.poll() is None:
            for key, _ in pipes.select(timeout=0.1):
                pass_on(key.fileobj, key.data)
        # All it wrote is in the pipes now.
        for key in list(pipes.get_map().values()):
            pass_on(key.fileobj, key.data)
    if proc.returncode:
        how = (f"killed by signal {-proc.returncode}" if proc.returncode < 0
               else f"exit status {proc.returncode}")
        print(f"wine.py: {' '.join(args)} in {prefix_.path}: {how}", file=sys.stderr)
    return proc.returncode if proc.returncode >= 0 else 128 - proc.returncode


def start_server(prefix_):
    """Starts the wineserver of `prefix_` to stay until `wineserver -k`, and with it the prefix's
    system processes. Programs started side by side then neither share the start of a server and
    its system processes nor meet a server that is ending (it ends 3 s after its last program)."""
    env = prefix_.env(debug=WINE_ERRORS)
    with tempfile.TemporaryFile() as log:
        for args in (["wineserver", "-p"], [*WINE, "cmd", "/c", "exit"]):
            # Their output goes to a file: the server and system processes, which stay, would
            # keep pipes open.
            try:
                done = subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=log,
                                      stderr=log, timeout=BOOT_TIMEOUT, check=False)
            except subprocess.TimeoutExpired as e:
                raise Failure(f"{' '.join(args)} did not end within {BOOT_TIMEOUT} s") from e
            if done.returncode != 0:
                log.seek(0)
                raise Failure(f"{' '.join(args)} in {prefix_.path}: exit status {done.returncode}:"
                              f" {log.read().decode(errors='replace')[-2000:]}")


def main():
    parser = argparse.ArgumentParser(description="runs Windows console programs under wine")
    sub = parser.add_subparsers(dest="command", required=True)
    run = sub.add_parser("run", help="runs PROGRAM in the prefix DIR (made when missing)")
    run.add_argument("--prefix", required=True, metavar="DIR")
    run.add_argument("program")
    run.add_argument("args", nargs=argparse.REMAINDER)
    start = sub.add_parser("start", help="starts the prefix DIR (made when missing) and its "
                           "wineserver, which stays until `wineserver -k`")
    start.add_argument("--prefix", required=True, metavar="DIR")
    args = parser.parse_args()
    prefix_ = WinePrefix(os.path.abspath(args.prefix))
    if args.command == "start":
        start_server(prefix_)
    else:
        sys.exit(run_console(prefix_, [args.program, *args.args]))


if __name__ == "__main__":
    main()
