"""Where the game draws what: src/layout.h's layout, the board's cells and marks, the menus."""

import os
import re


def read_layout(path=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                  "src", "layout.h")):
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
