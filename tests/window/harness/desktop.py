"""The window as a desktop sees it: its properties and icons, the menu frame and the arrow."""

import ctypes
import os
import subprocess

from .checks import check
from .geometry import MAIN_MENU, SCREEN_H, SCREEN_W
from .display import run_tool
from .pictures import Image


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
    raw = run_tool(["convert", path, "-depth", "8", "rgba:-"])
    check(len(raw) == 4 * size * size, f"the generator drew {len(raw) // 4} pixels, not {size} x "
          f"{size}")
    return [raw[i + 3] << 24 | int.from_bytes(raw[i:i + 3], "big") for i in range(0, len(raw), 4)]


class XImage(ctypes.Structure):
    """The leading fields of Xlib's XImage, up to those read here."""
    _fields_ = [(name, ctypes.c_int) for name in ("width", "height", "xoffset", "format")] + [
        ("data", ctypes.c_void_p)] + [(name, ctypes.c_int) for name in (
            "byte_order", "bitmap_unit", "bitmap_bit_order", "bitmap_pad", "depth",
            "bytes_per_line", "bits_per_pixel")]


def x_image(x11, connection, drawable, box):
    """(bytes, bytes per line, byte order "little" or "big", bits per pixel) of the drawable's
    pixels in box (x, y, w, h), read with XGetImage through the Xlib `x11` (ctypes)."""
    x11.XGetImage.restype = ctypes.POINTER(XImage)
    x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                              ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    x11.XFree.argtypes = [ctypes.c_void_p]
    x, y, w, h = box
    z_pixmap, all_planes = 2, 0xFFFFFFFF
    image = x11.XGetImage(connection, drawable, x, y, w, h, all_planes, z_pixmap)
    check(image, f"no image of the drawable {drawable:#x}")
    fields = image.contents
    try:
        raw = ctypes.string_at(fields.data, fields.bytes_per_line * h)
    finally:
        x11.XFree(fields.data)
        x11.XFree(image)
    return (raw, fields.bytes_per_line, "little" if fields.byte_order == 0 else "big",
            fields.bits_per_pixel)


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


def leave_and_come_back(game, frame, back, what):
    """Moves the pointer out of the window: the frame `frame` (without an arrow) must show, and
    stay, and the display's cursor there is not the game's arrow; then back in at `back`: the
    arrow there, and the same frame (with the arrow drawn there where the game draws it)."""
    outside = (game.origin[0] + SCREEN_W * game.scale + 50,
               game.origin[1] + SCREEN_H * game.scale + 50)
    game.display.xdotool("mousemove", *(str(v) for v in outside))
    alone = f"{what} without the arrow"
    game.wait_for_screen(lambda img: img.rgb == frame.rgb and not game.cursor_is_arrow(), alone)
    game.expect_steady(lambda img: img.rgb == frame.rgb and not game.cursor_is_arrow(), alone)
    game.move_blind(*back)
    arrow = game.with_arrow(frame, *back)
    game.wait_for_screen(lambda img: img.rgb == arrow.rgb and game.arrow_shown_at(img, *back),
                         f"{what} with the arrow at {back}")
