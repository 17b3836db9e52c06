"""The game's window as a desktop sees it.

identity: the window's class (WM_CLASS) is the desktop entry's StartupWMClass, its _NET_WM_PID is
the program's, and its _NET_WM_ICON holds the game's icon, pixel for pixel the picture that the
picture generator draws for the desktop entry. The game's arrow is the display's cursor over the
window, and only there, in no frame: in the menu and in a prompt drawn once, it goes when the
pointer leaves, comes back where the pointer comes back and follows it inside. A window that a
window manager makes larger (as weston maximizes it) still shows the whole frame, and clicks land.

scale: on a 2048 x 1536 screen whose X resources say Xft.dpi: 192 (a desktop at 200 %) the window
is 1600 x 1200, and its menu and the frames of a whole hot-seat game are exactly the frames of the
game at 800 x 600, each pixel a 2 x 2 block, with every click made at the last pixel of its block.
With Xft.dpi unset or 96 the window is 800 x 600; FIVEINAROW_SCALE wins over the resource, a text
that is no factor is reported and ignored, and a screen too small for the factor gets 1.
"""

import os
import re

from harness.checks import check
from harness.desktop import drawn_icon, leave_and_come_back, menu_frame, net_wm_icon, pixmap_rgb
from harness.geometry import MAIN_MENU, PARK, SCREEN_H, SCREEN_W, SUB_MENU, WIN_TEXT, cell_centre
from harness.runner import main

NAME = "desktop"
DESKTOP_ENTRY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "desktop",
                             "fiveinarow.desktop")
# Sizes of the icon that every desktop finds in the window's _NET_WM_ICON, and the size of the
# XPM icon that the graphics library gives the window.
ICON_SIZES = (16, 32, 48)
XPM_SIZE = 32


def startup_class():
    with open(DESKTOP_ENTRY, encoding="utf-8") as f:
        found = re.findall(r"^StartupWMClass=(.*)$", f.read(), re.MULTILINE)
    check(len(found) == 1, f"the desktop entry has {len(found)} StartupWMClass lines")
    return found[0]


def check_identity(h, game):
    display, window = game.display, game.window
    names = re.findall(r'"([^"]*)"', display.xprop(window, "WM_CLASS") or "")
    wanted = startup_class()
    check(names == [wanted, wanted], f"WM_CLASS {names}, not the desktop entry's {wanted!r}")
    pid = display.xprop(window, "_NET_WM_PID")
    check(pid == str(game.proc.pid), f"_NET_WM_PID {pid}, not the program's {game.proc.pid}")
    icons = net_wm_icon(display, window)
    check(all(size in icons for size in ICON_SIZES),
          f"_NET_WM_ICON has the sizes {sorted(icons)}, not all of {ICON_SIZES}")
    for size, pixels in icons.items():
        want = drawn_icon(h, h.options.pictures_tool, size)
        wrong = [i for i, (a, b) in enumerate(zip(pixels, want)) if a != b]
        check(not wrong, f"the {size} x {size} icon differs from the desktop entry's in "
              f"{len(wrong)} pixels, the first at {divmod(wrong[0], size)[::-1] if wrong else ''}")
    # The older icon pixmap of WM_HINTS, from the library's XPM: the same colours where the icon
    # is at least half opaque.
    hints = display.xprop(window, "WM_HINTS") or ""
    found = re.search(r"bitmap id # to use for icon: (0x[0-9a-f]+)", hints)
    check(found, f"WM_HINTS names no icon pixmap: {hints}")
    want = drawn_icon(h, h.options.pictures_tool, XPM_SIZE)
    got = pixmap_rgb(display, int(found.group(1), 16), XPM_SIZE, XPM_SIZE)
    opaque = [i for i, w in enumerate(want) if w >> 24 >= 128]
    wrong = [i for i in opaque if got[i] != want[i] & 0xFFFFFF]
    check(len(opaque) > XPM_SIZE * XPM_SIZE // 2 and not wrong,
          f"the WM_HINTS icon differs from the desktop entry's in {len(wrong)} of its "
          f"{len(opaque)} opaque pixels")


def identity(h):
    # Room for the window a window manager makes larger.
    display = h.display((1600, 1200))
    game = h.program(display)
    game.wait_for_menu()
    check_identity(h, game)

    # The menu, redrawn on every move.
    menu = menu_frame(h)
    game.move(400, 300)
    leave_and_come_back(game, menu, (123, 456), "the main menu")

    # A prompt, drawn once and then waiting for keys.
    game.choose("mi_net.tga")
    game.wait_for_menu(SUB_MENU, "the network sub-menu")
    game.choose("net_master.tga", SUB_MENU)
    prompt = game.wait_for_screen(lambda img: img.pixel(10, 10) == (0, 0, 0), "the nick prompt")
    # The arrow is the display's cursor, in no frame.
    cx, cy = game.button_centre("net_master.tga", SUB_MENU)
    check(game.arrow_shown_at(prompt, cx, cy), "the arrow of the nick prompt is not where the "
          "click left the pointer")
    check(not game.draws_arrow and prompt.count((0, 0, 0), (cx - 3, cy - 3, 20, 26)) == 20 * 26,
          "an arrow drawn into the nick prompt")
    leave_and_come_back(game, prompt, (700, 100), "the nick prompt")
    # Moves within the window: the arrow follows, the frame drawn once stays as it is.
    game.move(650, 80)
    game.expect_steady(lambda img: img.rgb == prompt.rgb and game.arrow_shown_at(img, 650, 80),
                       "the nick prompt with the arrow where the pointer moved")
    game.key("Escape")
    game.key("Escape", seen=lambda img: game.menu_shown(img, MAIN_MENU),
             what="the main menu after Escape in the master's wait")

    # A window manager that makes the window larger than asked: the frame stays whole in its
    # corner, the rest black, and a click on Exit still lands.
    game.display.xdotool("windowsize", game.window, "1268", "959")
    exit_x, exit_y = game.button_centre("mi_exit.tga")
    for _ in range(100):
        shot = display.screenshot(game.window)
        if (shot.width, shot.height) == (1268, 959):
            break
    check((shot.width, shot.height) == (1268, 959), "the window did not grow")
    frame = shot.crop(0, 0, SCREEN_W, SCREEN_H)
    check(game.menu_shown(frame, MAIN_MENU), "the grown window lost the menu")
    check(shot.count((0, 0, 0), (SCREEN_W, 0, 1268 - SCREEN_W, 959)) == (1268 - SCREEN_W) * 959
          and shot.count((0, 0, 0), (0, SCREEN_H, SCREEN_W, 959 - SCREEN_H))
          == SCREEN_W * (959 - SCREEN_H), "the grown window is not black beside the frame")
    game.move_blind(exit_x, exit_y)
    game.press()
    game.wait_for_line("End")
    game.release()
    check(game.wait_for_exit() == 0, "exit status not 0")
    check(game.lines() == ["Initing net", "Choice: 1", "Choice: 2", "End", "system done"],
          f"output: {game.lines()}")


def same_frames(one, two, what):
    """Both programs show the same frame (the second's window enlarged, as its screenshots
    check)."""
    a, b = one.screenshot(), two.screenshot()
    wrong = a.mismatches(b, 0, 0)
    check(not wrong, f"{what}: the enlarged window differs from the frame in {len(wrong)} "
          f"pixels, the first at {wrong[:1]}")


def started(h, display, scale, env=None):
    """A program on `display` whose window must be `scale` times the frame, its menu shown."""
    game = h.program(display, env=dict(display.env, **(env or {})), scale=scale)
    game.wait_for_window()
    size = game.window_geometry()
    check((size["WIDTH"], size["HEIGHT"]) == (SCREEN_W * scale, SCREEN_H * scale),
          f"the window is {size['WIDTH']} x {size['HEIGHT']}, not {scale} x 800 x 600 "
          f"(resources {game.display.name}, {env})")
    game.wait_for_menu()
    return game


def scale(h):
    plain_display = h.display()
    big = h.display((2048, 1536), "Xft.dpi: 192\n")
    plain, double = started(h, plain_display, 1), started(h, big, 2)
    games = (plain, double)
    for game in games:
        game.move(*PARK)
    same_frames(plain, double, "the main menu")

    # A whole hot-seat game; player one wins on a diagonal.
    moves = [(3, 3), (9, 3), (4, 4), (9, 4), (5, 5), (9, 5), (6, 6), (10, 6), (7, 7)]
    for game in games:
        game.choose("mi_local.tga")
        game.wait_for_turn(1)
    same_frames(plain, double, "the first turn")
    for i, cell in enumerate(moves[:-1]):
        for game in games:
            game.play(*cell, 1 + i % 2)
        same_frames(plain, double, f"the turn after {cell}")
    for game in games:
        game.click(*cell_centre(*moves[-1]), seen=lambda img, g=game: g.end_screen_shown(img, 1),
                   what=f"the end screen with {WIN_TEXT[1]!r}")
    same_frames(plain, double, "the end screen")
    for game in games:
        game.key("space", seen=lambda img, g=game: g.menu_shown(img, MAIN_MENU),
                 what="the main menu after the end screen")
        game.choose("mi_exit.tga")
        game.expect_clean_exit(["Initing net", "Choice: 0", "Choice: 2", "End", "system done"])

    # What the desktop says, and what the player says.
    for resources, env, factor in (("", None, 1), ("Xft.dpi: 96\n", None, 1),
                                   ("Xft.dpi: 144\n", None, 2),
                                   ("Xft.dpi: 192\n", {"FIVEINAROW_SCALE": "1"}, 1),
                                   ("", {"FIVEINAROW_SCALE": "2"}, 2)):
        big.set_resources(resources)
        game = started(h, big, factor, env)
        game.stop()
    big.set_resources("Xft.dpi: 192\n")
    game = started(h, big, 2, {"FIVEINAROW_SCALE": "2x"})
    game.choose("mi_exit.tga")
    check(game.wait_for_exit() == 0, "exit status not 0")
    check(game.lines("stderr") == ["FIVEINAROW_SCALE: 2x is not a whole number from 1 to 4; "
                                   "ignored"], f"error output: {game.lines('stderr')}")

    # 1920 x 1080 at 200 %: 1600 x 1200 does not fit.
    small = h.display((1920, 1080), "Xft.dpi: 192\n")
    started(h, small, 1).stop()


if __name__ == "__main__":
    main(NAME, lambda h, case: case(h), cases={"identity": identity, "scale": scale},
         options=[("--pictures-tool", "the picture generator (make_pictures)")])
