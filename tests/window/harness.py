"""Drives the real fiveinarow program in a virtual X display for the window tests.

A Harness owns everything a test starts: one or more Xvfb displays (Display), the programs shown
on them (Program), and a scratch folder. Leaving its `with` block stops them all, whether the test
passed or not; after a failure the scratch folder (program output, last screenshot) is kept and
its path printed.

Every wait has a deadline that fails the test. Screens are read from `xwd` dumps of the window,
decoded here, so the tests need Python's standard library, Xvfb, xwd and xdotool only.

A test file defines test(h) and calls main() (see the test_*.py files), for example:

    def test(h):
        game = h.program(h.display())
        game.wait_for_menu()
        game.choose("mi_exit.tga")
        check(game.wait_for_exit() == 0, "exit status not 0")

Two programs that play each other get a display each: h.program(h.display()) twice. A display can
be of another size, with X resources (h.display((2048, 1536), "Xft.dpi: 192")), and a program
whose window enlarges the frame (h.program(display, scale=2)) is read and driven in the frame's
places all the same, its every block of pixels checked to be of one colour.
"""

import argparse
import ctypes
import os
import re
import select
import struct
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
import zlib

WINDOW_NAME = "Five in a row"


def read_layout(path=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src",
                                  "layout.h")):
    """The game's own layout constants: {name without its "k": int or (r, g, b)}."""
    with open(path, encoding="ascii") as f:
        text = f.read()
    found = {name: int(value) for name, value in
             re.findall(r"constexpr int k(\w+) = (-?\d+);", text)}
    found.update((name, tuple(int(c) for c in rgb.split(","))) for name, rgb in
                 re.findall(r"constexpr Rgb k(\w+)\{([\d, ]+)\};", text))
    return found


LAYOUT = read_layout()
SCREEN_W, SCREEN_H = LAYOUT["ScreenW"], LAYOUT["ScreenH"]
BOARD_X, BOARD_Y, CELL, CELLS = (LAYOUT[name] for name in ("BoardX", "BoardY", "CellSize", "Cells"))
GRID_BOX = (BOARD_X, BOARD_Y, CELLS * CELL + 1, CELLS * CELL + 1)

WHITE, RED = LAYOUT["White"], LAYOUT["Red"]
BLACK = (0, 0, 0)
MAGENTA = (255, 0, 255)  # the pictures' transparent colour
STATUS_GREY = LAYOUT["StatusGrey"]  # "Player one turns", "Player two wins", ...
END_PINK = LAYOUT["EndPink"]  # "End of game"
PRESS_KEY_ORANGE = LAYOUT["PressKeyOrange"]  # "Press any key..."
TEXT_X = SCREEN_W - LAYOUT["StatusRight"]
TURN_Y, RESULT_Y, PRESS_KEY_Y = LAYOUT["StatusY"], LAYOUT["ResultY"], LAYOUT["PressKeyY"]

# How long a single wait may take before the test fails. Generous: the machine may be busy with
# other tests, and a passing wait returns as soon as its condition holds.
WAIT = 10.0
# How long something must stay unchanged to count as "nothing happened". The program is woken by
# every input and redraws within milliseconds, so it has long reacted by then.
QUIET = 0.4


class Failure(AssertionError):
    """A check of a window test that did not hold."""


class NotEnlarged(Failure):
    """A window that should show the frame enlarged shows something else: no waiting helps."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def poll(timeout, what, step=0.02):
    """Yields 0, 1, 2, ... until the caller breaks out; fails the test once `timeout` seconds
    have passed."""
    end = time.monotonic() + timeout
    attempt = 0
    while True:
        yield attempt
        attempt += 1
        if time.monotonic() > end:
            raise Failure(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(step)


# Xvfb now and then fails a new connection (a few in a hundred on a busy machine): the client is
# refused, reset, killed by SIGPIPE, or, rarely, left hanging. Such a call is simply made again;
# these are what the clients then say.
DISPLAY_REFUSED = ("Can't open display", "unable to open display", "XIO:", "connection to")
ATTEMPTS = 5
# A program whose window has not appeared by then is taken to hang in a connection that never
# completed (the window appears within a fraction of a second otherwise).
STUCK = 4.0
# Long enough for any single call of an X tool on a busy machine.
TOOL_TIMEOUT = 5.0
# Makes the private namespaces that the tests using the game's ports run in (see private_network).
PRIVATE_NETWORK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                               "private-network.sh")


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


# ---- Pictures ----


class Image:
    """An RGB picture held as rows of bytes, 3 bytes per pixel."""

    def __init__(self, width, height, rgb):
        check(len(rgb) == width * height * 3, "picture data of the wrong size")
        self.width, self.height, self.rgb = width, height, bytes(rgb)

    @classmethod
    def from_xwd(cls, data):
        """Reads the Z-format true-colour dump that `xwd` writes of a 24-bit display (packed in
        3 or 4 bytes per pixel, depending on how the server hands the image out)."""
        header = struct.unpack(">25I", data[:100])
        (header_size, _, pixmap_format, _, width, height, _, byte_order, _, _, _, bits,
         line_bytes, _, red_mask, green_mask, blue_mask, _, _, ncolors) = header[:20]
        check(pixmap_format == 2 and bits in (24, 32)
              and (red_mask, green_mask, blue_mask) == (0xFF0000, 0xFF00, 0xFF),
              f"unexpected xwd format {header}")
        start = header_size + 12 * ncolors
        step = bits // 8
        # Each pixel is the value 0xRRGGBB in the dump's byte order (high byte unused for 32).
        if byte_order == 0:
            r, g, b = 2, 1, 0
        else:
            r, g, b = step - 3, step - 2, step - 1
        rgb = bytearray(width * height * 3)
        for y in range(height):
            row = data[start + y * line_bytes:start + y * line_bytes + step * width]
            out = y * width * 3
            rgb[out:out + 3 * width:3] = row[r::step]
            rgb[out + 1:out + 3 * width:3] = row[g::step]
            rgb[out + 2:out + 3 * width:3] = row[b::step]
        return cls(width, height, rgb)

    @classmethod
    def from_tga(cls, path):
        """Reads an uncompressed true-colour TGA (24 or 32 bits, either row order)."""
        with open(path, "rb") as f:
            data = f.read()
        id_len, cmap_type, kind = data[0], data[1], data[2]
        width = data[12] | data[13] << 8
        height = data[14] | data[15] << 8
        depth, descriptor = data[16], data[17]
        check(kind == 2 and cmap_type == 0 and depth in (24, 32),
              f"{path}: not an uncompressed true-colour TGA")
        step = depth // 8
        pixels = data[18 + id_len:]
        rows = []
        for y in range(height):
            row = pixels[y * width * step:(y + 1) * width * step]
            rgb = bytearray(width * 3)
            rgb[0::3], rgb[1::3], rgb[2::3] = row[2::step], row[1::step], row[0::step]
            rows.append(bytes(rgb))
        if not descriptor & 0x20:  # rows stored bottom-up
            rows.reverse()
        return cls(width, height, b"".join(rows))

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def row(self, x, y, w):
        i = (y * self.width + x) * 3
        return self.rgb[i:i + 3 * w]

    def crop(self, x, y, w, h):
        return Image(w, h, b"".join(self.row(x, y + j, w) for j in range(h)))

    def to_ppm(self):
        return b"P6\n%d %d\n255\n" % (self.width, self.height) + self.rgb

    def mismatches(self, other, x, y):
        """Pixels (in this image's coordinates) where `other`, placed at (x, y), differs."""
        out = []
        for j in range(other.height):
            mine, theirs = self.row(x, y + j, other.width), other.row(0, j, other.width)
            if mine == theirs:
                continue
            for i in range(other.width):
                if mine[3 * i:3 * i + 3] != theirs[3 * i:3 * i + 3]:
                    out.append((x + i, y + j))
        return out

    def count(self, colour, box):
        """How many pixels of the box (x, y, w, h) have exactly this colour."""
        x, y, w, h = box
        c = bytes(colour)
        return sum(1 for j in range(y, y + h) for i in range(x, x + w)
                   if self.rgb[(j * self.width + i) * 3:(j * self.width + i) * 3 + 3] == c)


def reduced(img, factor):
    """The frame that `img`, a window that enlarges it `factor` times, shows: fails with
    NotEnlarged unless every factor x factor block of the window is of one colour."""
    w, h = img.width // factor, img.height // factor
    rows = []
    for j in range(h):
        row = img.row(0, j * factor, img.width)
        for k in range(1, factor):
            if img.row(0, j * factor + k, img.width) != row:
                raise NotEnlarged(f"the window's rows {j * factor} and {j * factor + k} differ")
        small = bytearray(3 * w)
        for c in range(3):
            small[c::3] = row[c:3 * w * factor:3 * factor]
        big = bytearray(3 * w * factor)
        for k in range(factor):
            for c in range(3):
                big[3 * k + c::3 * factor] = small[c::3]
        if big != row[:3 * w * factor]:
            raise NotEnlarged(f"the window's row {j * factor} is not made of blocks of {factor}")
        rows.append(bytes(small))
    return Image(w, h, b"".join(rows))


def read_png_rgba(path):
    """(width, height, rows of (r, g, b, a)) of an 8-bit RGBA PNG without interlacing, as the
    picture generator writes its icons."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:8] == b"\x89PNG\r\n\x1a\n", f"{path}: not a PNG file")
    pos, chunks, header = 8, [], None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            chunks.append(body)
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    check(depth == 8 and colour == 6 and interlace == 0, f"{path}: not 8-bit RGBA")
    raw, stride, rows, previous = zlib.decompress(b"".join(chunks)), width * 4, [], bytearray(
        width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - 4] if i >= 4 else 0
            up = previous[i]
            corner = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc
                                      else corner)) & 255
        rows.append([tuple(line[i:i + 4]) for i in range(0, stride, 4)])
        previous = line
    return width, height, rows


def bounding_box(points):
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    return min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1


# ---- Board geometry and marks ----


def cell_origin(c, r):
    return BOARD_X + CELL * c, BOARD_Y + CELL * r


def cell_centre(c, r):
    x, y = cell_origin(c, r)
    return x + CELL // 2, y + CELL // 2


def cell_mark(img, c, r):
    """"circle", "cross" or "empty" from a few pixels that tell the marks apart, else None."""
    x, y = cell_origin(c, r)
    # The circle's radius and the cross's ends stand 2 pixels in from the cell's edges.
    mid, near, far = CELL // 2, 2, CELL - 2
    ring = [img.pixel(x + mid + dx, y + mid + dy)
            for dx, dy in ((near - mid, 0), (mid - near, 0), (0, near - mid), (0, mid - near))]
    corners = [img.pixel(x + a, y + b) for a, b in ((near, near), (far, far), (far, near),
                                                    (near, far))]
    centre = img.pixel(x + mid, y + mid)
    inner = [img.pixel(x + i, y + j) for j in range(1, CELL) for i in range(1, CELL)]
    if all(p == BLACK for p in inner):
        return "empty"
    if all(p == WHITE for p in ring) and centre == BLACK and all(p == BLACK for p in corners):
        return "circle"
    if all(p == WHITE for p in corners) and centre == WHITE and all(p == BLACK for p in ring):
        return "cross"
    return None


def straight_line(a, b):
    """The points from a to b, both included, on a straight or 45 degree line."""
    (x0, y0), (x1, y1) = a, b
    n = max(abs(x1 - x0), abs(y1 - y0))
    sx, sy = (x1 > x0) - (x1 < x0), (y1 > y0) - (y1 < y0)
    return [(x0 + sx * t, y0 + sy * t) for t in range(n + 1)]


def line_pixels(a, b):
    """The pixels of the red line between the centres of cells a and b."""
    return straight_line(cell_centre(*a), cell_centre(*b))


# ---- Menus ----

# Where the menus place their buttons (top-left corners).
MAIN_MENU = {f"mi_{name.lower()}.tga": (LAYOUT[f"{name}X"], LAYOUT["MenuY"])
             for name in ("Local", "Net", "Exit")}
SUB_MENU = {f"net_{name.lower()}.tga": (LAYOUT[f"{name}X"], LAYOUT["MenuY"])
            for name in ("Slave", "Master")}

# A spot of the game screen away from the grid and the texts, where the pointer hides nothing.
PARK = (400, 560)

TURN_TEXT = {1: "Player one turns", 2: "Player two turns"}
WIN_TEXT = {1: "Player one wins", 2: "Player two wins", 0: "Game interrupted"}
MARK = {1: "circle", 2: "cross"}


# ---- The window as a desktop sees it ----


def net_wm_icon(display, window):
    """{size: [0xAARRGGBB, ...]} from the window's _NET_WM_ICON."""
    value = display.xprop(window, "_NET_WM_ICON", "32c")
    check(value is not None, "the window has no _NET_WM_ICON")
    numbers = [int(v) for v in value.replace("\n", " ").split(",")]
    icons = {}
    while numbers:
        width, height = numbers[0], numbers[1]
        check(width == height and len(numbers) >= 2 + width * height,
              f"a _NET_WM_ICON entry of {width} x {height} with {len(numbers) - 2} values")
        icons[width] = numbers[2:2 + width * height]
        numbers = numbers[2 + width * height:]
    return icons


def drawn_icon(h, tool, size):
    """The game's icon as the picture generator `tool` draws it for desktops (the desktop entry's
    icons): [0xAARRGGBB, ...], row by row."""
    path = os.path.join(h.scratch, f"icon-{size}.png")
    done = subprocess.run([tool, "--icon", str(size), path],
                          capture_output=True, timeout=60, check=False)
    check(done.returncode == 0, f"the picture generator failed: {done.stderr.decode()}")
    width, height, rows = read_png_rgba(path)
    check((width, height) == (size, size), f"the generator drew {width} x {height}")
    return [a << 24 | r << 16 | g << 8 | b for row in rows for r, g, b, a in row]


def x_image(x11, connection, drawable, box):
    """(bytes, bytes per line, byte order "little" or "big", bits per pixel) of the drawable's
    pixels in box (x, y, w, h), read with XGetImage through the Xlib `x11` (ctypes)."""
    x11.XGetImage.restype = ctypes.c_void_p
    x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                              ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    x11.XFree.argtypes = [ctypes.c_void_p]
    x, y, w, h = box
    z_pixmap, all_planes = 2, 0xFFFFFFFF
    image = x11.XGetImage(connection, drawable, x, y, w, h, all_planes, z_pixmap)
    check(image, f"no image of the drawable {drawable:#x}")
    # XImage on 64-bit Linux: the data pointer at 16, byte order at 24, bytes per line at 44,
    # bits per pixel at 48.
    fields = ctypes.cast(image, ctypes.POINTER(ctypes.c_int))
    data = ctypes.cast(image + 16, ctypes.POINTER(ctypes.c_void_p))[0]
    byte_order, line, bits = fields[6], fields[11], fields[12]
    try:
        raw = ctypes.string_at(data, line * h)
    finally:
        x11.XFree(ctypes.c_void_p(data))
        x11.XFree(ctypes.c_void_p(image))
    return raw, line, "little" if byte_order == 0 else "big", bits


def pixmap_rgb(display, pixmap, width, height):
    """[0xRRGGBB, ...], row by row, of a pixmap of the display's 24-bit screen (such as a window's
    icon pixmap, which WM_HINTS names)."""
    raw, line, order, bits = x_image(display.x11, display.connection, pixmap,
                                     (0, 0, width, height))
    check(bits == 32, f"a pixmap of {bits} bits per pixel")
    return [int.from_bytes(raw[y * line + 4 * x:y * line + 4 * x + 4], order) & 0xFFFFFF
            for y in range(height) for x in range(width)]


def menu_frame(h):
    """The main menu exactly as the game draws it, without the pointer."""
    background = h.picture("menu.tga")
    rows = [bytearray(background.row(0, y, SCREEN_W)) for y in range(SCREEN_H)]
    for name, (x, y) in MAIN_MENU.items():
        picture = h.picture(name)
        for j in range(picture.height):
            rows[y + j][3 * x:3 * (x + picture.width)] = picture.row(0, j, picture.width)
    return Image(SCREEN_W, SCREEN_H, b"".join(rows))


def with_pointer(h, img, x, y, under=None):
    """img with the game's pointer drawn at (x, y); with `under`, with the pointer's pixels in
    that colour instead (what lies under a pointer drawn there)."""
    rgb = bytearray(img.rgb)
    for dx, dy, colour in h.pointer:
        if x + dx < SCREEN_W and y + dy < SCREEN_H:
            i = ((y + dy) * SCREEN_W + x + dx) * 3
            rgb[i:i + 3] = bytes(colour if under is None else under)
    return Image(SCREEN_W, SCREEN_H, rgb)


def leave_and_come_back(h, game, frame, back, what):
    """Moves the pointer out of the window: the frame `frame` (without an arrow) must show, and
    stay; then back in at `back`: the same frame with the arrow there."""
    outside = (game.origin[0] + SCREEN_W * game.scale + 50,
               game.origin[1] + SCREEN_H * game.scale + 50)
    game.display.xdotool("mousemove", *(str(v) for v in outside))
    game.wait_for_screen(lambda img: img.rgb == frame.rgb, f"{what} without the arrow")
    game.expect_steady(lambda img: img.rgb == frame.rgb, f"{what} without the arrow")
    game.move_blind(*back)
    arrow = with_pointer(h, frame, *back)
    game.wait_for_screen(lambda img: img.rgb == arrow.rgb, f"{what} with the arrow at {back}")


# ---- Processes ----


class Display:
    """An Xvfb server on a display number it picks itself, with a screen of `size` pixels and,
    when given, X resources (`resources`, in the form xrdb reads, such as "Xft.dpi: 192"), which
    the programs started later read as a desktop's settings daemon leaves them."""

    def __init__(self, scratch, size=(1024, 768), resources=None):
        read_end, write_end = os.pipe()
        self.log = open(os.path.join(scratch, "xvfb.log"), "wb")
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{size[0]}x{size[1]}x24",
             "-nolisten", "tcp"], pass_fds=(write_end,), stdout=self.log, stderr=self.log,
            preexec_fn=die_with_parent)
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
    # The server now and then refuses a new connection (see harness.DISPLAY_REFUSED).
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


class Program:
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

    def lines(self, stream="stdout"):
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

    # -- pictures the program shows --

    def pointer_drawn_at(self, img, x, y):
        """Whether the pointer picture is drawn with its hot spot at (x, y)."""
        for dx, dy, colour in self.harness.pointer:
            px, py = x + dx, y + dy
            if px < SCREEN_W and py < SCREEN_H and img.pixel(px, py) != colour:
                return False
        return True

    def under_pointer(self, x, y):
        """Whether the pixel (x, y) is one that the pointer covers where the test put it (or,
        right after a click or key, where it may have been drawn meanwhile)."""
        return any((x - px, y - py) in self.harness.pointer_pixels for px, py in self.trail)

    def changed(self, before, after):
        """Whether the screen changed from `before` to `after` other than by the pointer moving
        between the places in the trail."""
        return any(not self.under_pointer(*p) for p in after.mismatches(before, 0, 0))

    def menu_shown(self, img, buttons):
        """The menu background with `buttons` ({name: (x, y)}) on it; the pointer may cover a
        few pixels wherever it is."""
        background = self.harness.picture("menu.tga")
        wrong = []
        for name, (x, y) in buttons.items():
            wrong += img.mismatches(self.harness.picture(name), x, y)
        # Bands of the background left of, between and above the buttons.
        for band in ((0, 0, SCREEN_W, 16), (0, 300, SCREEN_W, 8), (0, 490, 100, 8)):
            wrong += img.mismatches(background.crop(*band), band[0], band[1])
        if not wrong:
            return True
        x, y, w, h = bounding_box(wrong)
        return w <= self.harness.pointer_size[0] and h <= self.harness.pointer_size[1]

    def text_shown(self, img, x, y, text, colour):
        """Whether `text` is written at (x, y) in the default font in exactly `colour`, with
        nothing else in its 8 pixel rows up to the window's right edge (black there)."""
        width, rows = self.harness.text_mask(text)
        want, black = bytes(colour), bytes(BLACK)
        for j, bits in enumerate(rows):
            line = img.row(x, y + j, SCREEN_W - x)
            for i in range(SCREEN_W - x):
                on = i < width and bits[i] == "1"
                if line[3 * i:3 * i + 3] != (want if on else black):
                    return False
        return True

    # -- the menus and the game --

    def wait_for_menu(self, buttons=None, what="the main menu"):
        """Waits for the window (the first time) and for the menu with `buttons` on it."""
        if self.window is None:
            self.wait_for_window()
        buttons = MAIN_MENU if buttons is None else buttons
        return self.wait_for_screen(lambda img: self.menu_shown(img, buttons), what)

    def escape_in_main_menu(self):
        """Presses Escape in the main menu, which must stay, with no choice made."""
        before = self.lines()
        self.move(SCREEN_W // 2, SCREEN_H // 2)
        self.key("Escape")
        # A frame drawn after the pass that saw Escape: a choice would be written by now.
        self.move(*self.neighbour(*self.pointer_at))
        check(self.menu_shown(self.last_shot, MAIN_MENU), "the main menu is gone after Escape")
        check(self.lines() == before, f"Escape in the main menu wrote {self.lines()[len(before):]}")

    def button_centre(self, name, buttons=None):
        """The middle of the button data/`name` of a menu (default: the main menu)."""
        x, y = (MAIN_MENU if buttons is None else buttons)[name]
        picture = self.harness.picture(name)
        return x + picture.width // 2, y + picture.height // 2

    def choose(self, name, buttons=None):
        """Clicks the middle of the button data/`name` of a menu."""
        self.click(*self.button_centre(name, buttons))

    def turn_shown(self, img, player):
        return self.text_shown(img, TEXT_X, TURN_Y, TURN_TEXT[player], STATUS_GREY)

    def wait_for_turn(self, player, what=None):
        """Waits for the game screen of `player`'s turn with the pointer parked off the grid."""
        return self.wait_for_screen(
            lambda img: self.turn_shown(img, player) and self.pointer_drawn_at(img, *PARK)
            and img.pixel(BOARD_X, BOARD_Y) == WHITE, what or f"{TURN_TEXT[player]!r}",
            pointer=PARK)

    def play(self, c, r, player):
        """`player` places a mark in cell (c, r), which must not end the game; returns the
        screen of the other player's turn."""
        other = 3 - player
        self.click(*cell_centre(c, r), seen=lambda img: self.turn_shown(img, other),
                   what=f"{TURN_TEXT[other]!r} after a click on ({c}, {r})")
        return self.wait_for_screen(
            lambda img: self.turn_shown(img, other) and self.pointer_drawn_at(img, *PARK)
            and cell_mark(img, c, r) == MARK[player],
            f"{MARK[player]} in cell ({c}, {r}) and {TURN_TEXT[other]!r}", pointer=PARK)

    def end_screen_shown(self, img, result):
        return (self.text_shown(img, TEXT_X, TURN_Y, "End of game", END_PINK)
                and self.text_shown(img, TEXT_X, RESULT_Y, WIN_TEXT[result], STATUS_GREY)
                and self.text_shown(img, TEXT_X, PRESS_KEY_Y, "Press any key...",
                                   PRESS_KEY_ORANGE))

    def wait_for_end_screen(self, result):
        return self.wait_for_screen(lambda img: self.end_screen_shown(img, result),
                                    f"the end screen with {WIN_TEXT[result]!r}")

    def check_end_screen(self, img, line):
        """The end screen `img` shows the red line between the end cells `line` (or, for None,
        no red at all on the grid), apart from the pixels the pointer covers."""
        if line is None:
            check(img.count(RED, GRID_BOX) == 0, "a red line on the board of a game without "
                  "a winner")
            return
        missing = [p for p in line_pixels(*line) if img.pixel(*p) != RED
                   and not self.under_pointer(*p)]
        check(not missing, f"the red line from cell {line[0]} to {line[1]} lacks the pixels "
              f"{missing[:5]}...")
        red = img.count(RED, GRID_BOX)
        check(red <= len(line_pixels(*line)), f"{red} red pixels on the grid, more than the "
              "winning line")

    def play_to_win(self, moves, winner, line, typed=None):
        """Starts a hot-seat game from the main menu and plays the cells `moves` in turn order,
        player one first; the last move completes `line` (its end cells) for `winner`. Checks
        the end screen, that it waits for a key (also after a key `typed` before the winning
        move), and that a key brings the main menu back."""
        self.choose("mi_local.tga")
        self.wait_for_line("Choice: 0")
        self.wait_for_turn(1)
        for i, (c, r) in enumerate(moves[:-1]):
            self.play(c, r, 1 + i % 2)
        check((len(moves) - 1) % 2 + 1 == winner, "the last move is not the winner's")
        if typed:
            self.key(typed)

        self.click(*cell_centre(*moves[-1]), seen=lambda shot: self.end_screen_shown(shot, winner),
                   what=f"the end screen with {WIN_TEXT[winner]!r}")
        img = self.wait_for_end_screen(winner)
        self.check_end_screen(img, line)
        loser = 3 - winner
        for i, cell in enumerate(moves):
            if i % 2 + 1 == loser:
                check(cell_mark(img, *cell) == MARK[loser], f"the end screen lost the mark in "
                      f"cell {cell}")

        # The end screen is drawn once and stays until a key.
        self.move_blind(*PARK)
        self.expect_steady(lambda shot: shot.rgb == img.rgb, "the unchanged end screen")
        self.key("space", seen=lambda shot: self.menu_shown(shot, MAIN_MENU),
                 what="the main menu after the end screen")

    # -- input --

    def move(self, x, y):
        """Moves the pointer and waits until the program draws it there."""
        if not self.synced:
            self.sync_pointer()
        self.move_blind(x, y)
        what = f"the pointer to be drawn at ({x}, {y})"
        for attempt in poll(WAIT, what, step=0.01):
            shot = self.try_screenshot(what)
            if shot is not None and self.pointer_drawn_at(shot, x, y):
                return
            # The library may still be following the pointer by relative motion, or, as it
            # stops doing so, put the real pointer back where it has its own.
            if attempt and attempt % 10 == 0:
                if attempt % 30 == 0:
                    self.sync_pointer()
                self.move_blind(x, y)

    def sync_pointer(self):
        """Makes the program's pointer follow the real one. For a while after start-up the
        library follows the pointer by relative motion, from where it put its own pointer, so
        that moves land off their targets. It stops its pointer at the window's edges, though:
        after a move to the bottom-right corner and one to the top-left corner, its pointer is
        at (0, 0) whatever it made of the moves before, and from there it follows exactly."""
        for attempt in poll(WAIT, "the pointer to be drawn at (0, 0)", step=0.01):
            if attempt % 10 == 0:
                self.move_blind(SCREEN_W - 1, SCREEN_H - 1)
                self.move_blind(0, 0)
            shot = self.try_screenshot("the pointer in the top-left corner")
            if shot is not None and self.pointer_drawn_at(shot, 0, 0):
                self.synced = True
                return

    def move_blind(self, x, y):
        """Moves the pointer without looking (for screens that are not redrawn)."""
        self.pointer_at = (x, y)
        self.trail = [(x, y)]
        # In an enlarged window, the last of the block's pixels, which shows the frame's (x, y)
        # as well as its first does.
        corner = self.scale - 1
        self.display.xdotool("mousemove", str(self.origin[0] + x * self.scale + corner),
                             str(self.origin[1] + y * self.scale + corner))

    def press(self):
        self.display.xdotool("mousedown", "1")

    def release(self):
        self.display.xdotool("mouseup", "1")

    def click(self, x, y, seen=None, what=None):
        """Clicks at (x, y), holding the button until the program has taken the press: until
        seen(screenshot) holds, or see settle()."""
        self.move(x, y)
        before = self.last_shot
        self.press()
        self.settle(before, seen, what or f"a click at ({x}, {y})", self.release)

    def key(self, name, seen=None, what=None):
        """Presses a key, holding it until the program has taken it (as for click); the pointer
        must be over the window, as keyboard focus follows it."""
        before = self.steady_screen()
        self.display.xdotool("keydown", name)
        self.settle(before, seen, what or f"the key {name}",
                    lambda: self.display.xdotool("keyup", name))

    def steady_screen(self):
        """The screen once the pointer shows where the test put it, or, on a screen drawn only
        once, the screen as it stays."""
        shots = []
        for _ in poll(WAIT, "a steady screen", step=0.03):
            shot = self.try_screenshot("a steady screen")
            if shot is None:
                continue
            if self.pointer_at is None or self.pointer_drawn_at(shot, *self.pointer_at):
                return shot
            shots.append(shot)
            if len(shots) >= 4 and all(s.rgb == shot.rgb for s in shots[-4:]):
                return shot

    def settle(self, before, seen, what, release):
        """Waits until the program has taken a press that is still held, then releases it.

        The program polls the button and key states, which the library updates from the display's
        events on a thread of its own: a press and its release that it reads together leave no
        trace in those states, so a press is held until its effect shows. With `seen`, that is
        until seen(screenshot) holds. Otherwise the pointer is moved on by a pixel, within the
        same cell or button, until the program either draws it there (it reads that move after
        the press and looks at the held press on the same pass) or changes the screen in another
        way (a screen that the press called up, which may be drawn only once); then it goes back.
        """
        start = self.pointer_at or (SCREEN_W // 2, SCREEN_H // 2)
        try:
            if seen is not None:
                self.wait_for_screen(seen, what)
                return
            step = self.neighbour(*start)
            for attempt in poll(WAIT, f"the program to take {what}", step=0.01):
                if attempt % 10 == 0:
                    self.move_blind(*step)
                    self.trail = [start, step]
                try:
                    shot = self.screenshot()
                except Failure:
                    # The press may have ended the program: its window goes before the process
                    # does, so a screenshot can fail while it is still shutting down.
                    if self.ends_within(QUIET * 5):
                        return
                    raise
                if self.pointer_drawn_at(shot, *step) or self.changed(before, shot):
                    break
        finally:
            release()
        if self.running():
            trail = self.trail
            self.move_blind(*start)
            self.trail = trail

    def neighbour(self, x, y):
        """A pixel next to (x, y) in the same cell (or off the grid) and the same buttons."""
        def region(px, py):
            c, r = (px - BOARD_X) // CELL, (py - BOARD_Y) // CELL
            cell = (c, r) if px >= BOARD_X and py >= BOARD_Y and c < CELLS and r < CELLS else None
            buttons = tuple(
                name for name, (bx, by) in {**MAIN_MENU, **SUB_MENU}.items()
                if bx <= px < bx + self.harness.picture(name).width
                and by <= py < by + self.harness.picture(name).height)
            return cell, buttons

        for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1), (1, 1), (-1, -1), (1, -1), (-1, 1)):
            nx, ny = x + dx, y + dy
            if 0 <= nx < SCREEN_W and 0 <= ny < SCREEN_H and region(nx, ny) == region(x, y):
                return nx, ny
        raise Failure(f"no pixel next to ({x}, {y}) in the same place")

    def tap_key(self, name, hold=0.005):
        """Presses a key for `hold` seconds, in one call of xdotool, and does not wait for the
        program to take it: a tap that may fall between two of its passes."""
        self.display.xdotool("keydown", name, "sleep", f"{hold:g}", "keyup", name)

    def tap_button(self, hold=0.005):
        """Presses the left button where the pointer is for `hold` seconds, as tap_key does."""
        self.display.xdotool("mousedown", "1", "sleep", f"{hold:g}", "mouseup", "1")

    def close(self):
        """Clicks the window's close button."""
        self.display.close_window(self.window)

    def type_text(self, text):
        """Types `text` key by key (for the program's line editor, which reads buffered keys)."""
        self.display.xdotool("type", "--delay", "30", text)

    def stop(self):
        stop_process(self.proc)


# ---- The harness ----


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
        for i, p in enumerate(self.programs):
            for stream in ("stdout", "stderr"):
                print(f"--- program {i} {stream} ---", file=sys.stderr)
                print("\n".join(p.lines(stream)), file=sys.stderr)
            if p.last_shot is not None:
                path = os.path.join(p.cwd, "last-screenshot.ppm")
                with open(path, "wb") as f:
                    f.write(p.last_shot.to_ppm())
        print(f"--- kept for inspection: {self.scratch}", file=sys.stderr)

    def display(self, size=(1024, 768), resources=None):
        """A display of its own (see Display)."""
        d = Display(self.scratch, size, resources)
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
