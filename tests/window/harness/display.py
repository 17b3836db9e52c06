"""The Xvfb display a test runs on, and the X tools that read and drive it."""

import ctypes
import os
import select
import signal
import subprocess
import time

from .checks import WAIT, Failure, check, poll
from .pictures import Image


# Xvfb now and then fails a new connection (a few in a hundred on a busy machine): the client is
# refused, reset, killed by SIGPIPE, or, rarely, left hanging. Such a call is simply made again;
# these are what the clients then say.
DISPLAY_REFUSED = ("Can't open display", "unable to open display", "XIO:", "connection to")
ATTEMPTS = 5


# Long enough for any single call of an X tool on a busy machine.
TOOL_TIMEOUT = 5.0


def try_tool(args, env=None):
    """Runs an X tool (xdotool, xwd) to its end; returns (stdout, None) when it succeeded, or
    (None, what went wrong). Calls that never reached the display are made again."""
    for attempt in range(ATTEMPTS):
        try:
            done = subprocess.run(args, env=env, capture_output=True, timeout=TOOL_TIMEOUT,
                                  check=False)
        except subprocess.TimeoutExpired:
            error, refused = f"no end within {TOOL_TIMEOUT:g} s", True
        else:
            if done.returncode == 0:
                return done.stdout, None
            error = f"status {done.returncode}: {done.stderr.decode(errors='replace').strip()}"
            refused = (done.returncode == -signal.SIGPIPE
                       or any(text in error for text in DISPLAY_REFUSED))
        if not refused or attempt == ATTEMPTS - 1:
            return None, f"{' '.join(args)} failed ({error})"
        time.sleep(0.05)
    raise AssertionError("not reached")


def run_tool(args, env=None):
    """Runs an X tool to its end (as try_tool); fails the test when it does not succeed."""
    out, error = try_tool(args, env)
    check(error is None, error)
    return out


class Cursor(ctypes.Structure):
    """XFixesCursorImage: the cursor the display shows, where its hot spot is on the screen."""
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


class Display:
    """An Xvfb server on a display number it picks itself, with a screen of `size` pixels and,
    when given, X resources (`resources`, in the form xrdb reads, such as "Xft.dpi: 192"), which
    the programs started later read as a desktop's settings daemon leaves them. Without `cursors`,
    the server lacks the extension (RENDER) that colour cursors need: a program there must draw
    its arrow itself."""

    def __init__(self, scratch, size=(1024, 768), resources=None, cursors=True):
        self.cursors = cursors
        read_end, write_end = os.pipe()
        self.log = open(os.path.join(scratch, "xvfb.log"), "wb")
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{size[0]}x{size[1]}x24",
             "-nolisten", "tcp", *([] if cursors else ["-extension", "RENDER"])],
            pass_fds=(write_end,), stdout=self.log, stderr=self.log, preexec_fn=die_with_parent)
        os.close(write_end)
        try:
            # Xvfb writes the display number once it accepts connections.
            number = b""
            for _ in poll(WAIT, "Xvfb to start", step=0):
                if self.proc.poll() is not None:
                    raise Failure(f"Xvfb ended at start-up ({self.proc.returncode})")
                if select.select([read_end], [], [], 0.05)[0]:
                    number += os.read(read_end, 16)
                if number.endswith(b"\n"):
                    break
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(read_end)
        self.name = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.name)
        # The window's size is the test's to choose, not the environment's.
        self.env.pop("FIVEINAROW_SCALE", None)
        # So are the routers: only a program behind a test's own router asks it (netplay/lan.py).
        self.env["FIVEINAROW_PORT_MAPPING"] = "0"
        try:
            self.x11, self.connection = without_autorepeat(self)
            # The connection just made keeps the server from a reset, which would forget them.
            if resources is not None:
                self.set_resources(resources)
        except BaseException:
            self.stop()
            raise

    def set_resources(self, resources):
        """Replaces the display's X resources (RESOURCE_MANAGER) with `resources` ("" for none),
        for the programs started from now on."""
        done = subprocess.run(["xrdb", "-load", "-nocpp"], input=resources.encode(),
                              env=self.env, capture_output=True, timeout=TOOL_TIMEOUT, check=False)
        check(done.returncode == 0, f"xrdb failed: {done.stderr.decode(errors='replace')}")

    def xprop(self, window, name, form=None):
        """The value of the property `name` of `window` as xprop prints it after its "=" (with
        `form`, xprop's format for it, such as "32c" for plain numbers); None when the window has
        no such property."""
        args = ["xprop", "-notype", "-id", str(window)]
        if form:
            args += ["-f", name, form]
        out = run_tool(args + [name], env=self.env).decode().strip()
        first = out.split("\n", 1)[0]
        if first.endswith("not found."):
            return None
        # "NAME = value", or "NAME:" and the value on the lines after it.
        return out.split("=" if "=" in first else ":", 1)[1].strip()

    def screenshot(self, window=None):
        """The pixels of `window` (an X window id), or of the whole screen."""
        where = ["-id", window] if window else ["-root"]
        return Image.from_xwd(run_tool(["xwd", *where, "-silent"], env=self.env))

    def cursor(self):
        """(x, y, xhot, yhot, width, height, [0xAARRGGBB, ...] row by row) of the cursor the
        display shows now, (x, y) its hot spot's place on the screen (XFixesGetCursorImage)."""
        if not hasattr(self, "xfixes"):
            self.xfixes = ctypes.CDLL("libXfixes.so.3")
            self.xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(Cursor)
            self.xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
            self.x11.XFree.argtypes = [ctypes.c_void_p]
        image = self.xfixes.XFixesGetCursorImage(self.connection)
        check(image, "no cursor image from the display")
        try:
            c = image.contents
            # The pixels are longs with the ARGB value in their low 32 bits.
            argb = [c.pixels[i] & 0xFFFFFFFF for i in range(c.width * c.height)]
            return (c.x, c.y, c.xhot, c.yhot, c.width, c.height, argb)
        finally:
            self.x11.XFree(ctypes.cast(image, ctypes.c_void_p))

    def xdotool(self, *args):
        return run_tool(["xdotool", *args], env=self.env).decode()

    def close_window(self, window):
        """Asks `window` to close as a window manager does when its close button is clicked: a
        WM_PROTOCOLS client message carrying WM_DELETE_WINDOW."""
        x11 = self.x11
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.c_void_p]
        protocols, delete = (x11.XInternAtom(self.connection, name, 0)
                             for name in (b"WM_PROTOCOLS", b"WM_DELETE_WINDOW"))
        # An XClientMessageEvent in an XEvent of 24 longs (each field takes one on 64-bit Linux):
        # type ClientMessage, serial, send_event, display, window, message_type, format, data.
        event = (ctypes.c_long * 24)(33, 0, 0, 0, int(window), protocols, 32, delete)
        check(x11.XSendEvent(self.connection, int(window), 0, 0, event), "XSendEvent failed")
        x11.XFlush(self.connection)

    def stop(self):
        stop_process(self.proc)
        self.log.close()


def without_autorepeat(display):
    """Turns the keyboard's auto-repeat off on `display`; returns libX11 and the connection. A
    key is pressed and released by two calls of xdotool; on a busy machine the release can come
    late enough for the server to repeat the key, and a second Enter would answer the next prompt
    unseen. The connection stays open for the rest of the test (the display keeps it): the server
    would reset its settings when its last client leaves (a program that ends, or is killed)."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XAutoRepeatOff.argtypes = [ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    # The server now and then refuses a new connection (see DISPLAY_REFUSED).
    for _ in poll(WAIT, f"a connection to the display {display.name}", step=0.05):
        connection = x11.XOpenDisplay(display.name.encode())
        if connection:
            break
    check(connection, f"no connection to the display {display.name}")
    x11.XAutoRepeatOff(connection)
    x11.XFlush(connection)
    return x11, connection


def die_with_parent():
    """Run in a child before it starts: the kernel kills it should this test be killed, so that
    no display or program outlives a test stopped by its time limit."""
    pr_set_pdeathsig = 1
    ctypes.CDLL(None, use_errno=True).prctl(pr_set_pdeathsig, signal.SIGKILL)


def stop_process(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=3)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(timeout=3)
