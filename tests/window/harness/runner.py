"""Runs a window test: the harness owning its displays, programs and folder, and namespaces."""

import argparse
import os
import shutil
import signal
import sys
import tempfile
import time
import traceback

from .checks import Failure
from .display import Display, run_tool
from .geometry import MAGENTA
from .pictures import Image
from .program import Program


# Makes the private namespaces that the tests using the game's ports run in (see private_network).
PRIVATE_NETWORK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                               "scripts", "private-network.sh")


class Harness:
    """Owns the displays, programs and scratch folder of one test."""

    def __init__(self, name, exe, data, text_mask):
        self.name, self.exe, self.data, self.text_mask_exe = name, exe, data, text_mask
        self.displays, self.programs = [], []
        # Called after the programs have been stopped, before the displays are (last first).
        self.cleanups = []
        self._pictures, self._texts = {}, {}
        ptr = self.picture("ptr.tga")
        self.pointer_size = (ptr.width, ptr.height)
        self.pointer = [(x, y, ptr.pixel(x, y)) for y in range(ptr.height)
                        for x in range(ptr.width) if ptr.pixel(x, y) != MAGENTA]
        self.pointer_pixels = {(x, y) for x, y, _ in self.pointer}
        # The arrow as a cursor: opaque where the picture is not transparent.
        self.arrow_argb = [0 if c == MAGENTA else 0xFF000000 | c[0] << 16 | c[1] << 8 | c[2]
                           for c in (ptr.pixel(x, y) for y in range(ptr.height)
                                     for x in range(ptr.width))]
        self.scratch = tempfile.mkdtemp(prefix=f"fiveinarow-{name}-")

    @classmethod
    def from_args(cls, name, options=(), cases=None):
        """The harness for the command line's program, pictures and text_mask helper; further
        required file options `options` ((flag, help) pairs) go to h.options as absolute paths,
        and the name of one of `cases` to h.options.case."""
        parser = argparse.ArgumentParser(description=f"window test {name}")
        parser.add_argument("program", help="the fiveinarow executable")
        parser.add_argument("--data", required=True, help="the folder of the game's pictures")
        parser.add_argument("--text-mask", required=True, help="the text_mask helper")
        for flag, text in options:
            parser.add_argument(flag, required=True, type=os.path.abspath, help=text)
        if cases:
            parser.add_argument("--case", required=True, choices=sorted(cases))
        args = parser.parse_args()
        h = cls(name, os.path.abspath(args.program), os.path.abspath(args.data),
                os.path.abspath(args.text_mask))
        h.options = args
        return h

    def __enter__(self):
        return self

    def __exit__(self, kind, value, tb):
        # How each program stood when the test ended, before it is stopped.
        self.states = [p.state() for p in self.programs]
        for p in self.programs:
            p.stop()
        try:
            for cleanup in reversed(self.cleanups):
                cleanup()
        finally:
            for d in self.displays:
                d.stop()
        if kind is None:
            shutil.rmtree(self.scratch, ignore_errors=True)
            return False
        self.report_failure()
        return False

    def report_failure(self):
        """What each program did: its command, how it stood when the test failed, and all it
        wrote (under wine, wine's own lines too)."""
        for i, (p, state) in enumerate(zip(self.programs, self.states)):
            print(f"--- program {i}: {' '.join(p.command())}: {state} ---", file=sys.stderr)
            for stream in ("stdout", "stderr"):
                print(f"--- program {i} {stream} ---", file=sys.stderr)
                print("\n".join(p.lines(stream, everything=True)), file=sys.stderr)
            if p.last_shot is not None:
                path = os.path.join(p.cwd, "last-screenshot.ppm")
                with open(path, "wb") as f:
                    f.write(p.last_shot.to_ppm())
        print(f"--- kept for inspection: {self.scratch}", file=sys.stderr)

    def display(self, size=(1024, 768), resources=None, cursors=True):
        """A display of its own (see Display)."""
        d = Display(self.scratch, size, resources, cursors)
        self.displays.append(d)
        return d

    def workdir(self, without=()):
        """A folder for one program with the game's data/ (a copy without the files `without`)."""
        path = tempfile.mkdtemp(dir=self.scratch, prefix="run-")
        if without:
            shutil.copytree(self.data, os.path.join(path, "data"))
            for name in without:
                os.remove(os.path.join(path, "data", name))
        else:
            os.symlink(self.data, os.path.join(path, "data"))
        return path

    def program(self, display, without=(), env=None, scale=1):
        """Starts the game on `display` (None: with DISPLAY unset, or as `env` says), whose window
        is expected to enlarge the frame `scale` times."""
        if env is None:
            env = dict(display.env) if display else {
                k: v for k, v in os.environ.items() if k != "DISPLAY"}
        return Program(self, display, self.workdir(without), env, scale)

    def picture(self, name):
        if name not in self._pictures:
            self._pictures[name] = Image.from_tga(os.path.join(self.data, name))
        return self._pictures[name]

    def text_mask(self, text):
        """(width, rows of "0"/"1") of `text` in the library's default font."""
        if text not in self._texts:
            out = run_tool([self.text_mask_exe, text]).decode().split()
            self._texts[text] = (int(out[0]), out[2:])
        return self._texts[text]


def private_network(name, mount=False):
    """Runs this test again in a private network namespace with its loopback up (and, with
    `mount`, a private mount namespace; scripts/private-network.sh), unless it runs there already.
    Its ports are then its own, and so are those of everything it starts: Xvfb, the programs, wine
    and its wineserver. So tests run side by side, and beside a game that a player hosts on this
    machine, which they neither take the ports of nor reach. A machine that refuses the namespaces
    fails the test, the script saying why."""
    if os.environ.get("FIVEINAROW_PRIVATE_NETWORK") == "1":
        return
    os.environ["FIVEINAROW_PRIVATE_NETWORK"] = "1"
    try:
        os.execv(PRIVATE_NETWORK, [PRIVATE_NETWORK, *(["--mount"] if mount else []),
                                   sys.executable, "-B", *sys.argv])
    except OSError as e:
        print(f"FAILED {name}: {PRIVATE_NETWORK}: {e}", file=sys.stderr)
        sys.exit(1)


def main(name, test, options=(), mount=False, network="private", cases=None):
    """Runs test(harness) as a test program: exit status 0 when it passes, 1 when it fails.
    `options`: further file options of the command line (see Harness.from_args). With `cases`
    ({name: data}), the command line's --case names one, and test(harness, data) runs it. The
    test runs in a private network namespace (see private_network), with a private mount
    namespace too when `mount` is set; network="own" keeps it in this machine's network, for a
    program that must be seen from there."""
    if network != "own":
        private_network(name, mount)
    started = time.monotonic()

    def terminated(signum, frame):
        raise Failure(f"stopped by signal {signum}")

    signal.signal(signal.SIGTERM, terminated)
    try:
        with Harness.from_args(name, options, cases) as h:
            if cases:
                name = f"{name} {h.options.case}"
                test(h, cases[h.options.case])
            else:
                test(h)
    except Exception as e:  # pylint: disable=broad-except
        traceback.print_exc()
        print(f"FAILED {name}: {e}", file=sys.stderr)
        sys.exit(1)
    print(f"passed {name} in {time.monotonic() - started:.1f} s")
