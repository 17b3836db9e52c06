"""The Windows game's window as an X11 desktop sees it under wine: wine gives it the class
"fiveinarow.exe", the process id of the program, and as _NET_WM_ICON the program's own icon, which
the graphics library loads from the program's resources: its 32 x 32 picture is the one the picture
generator draws for desktops. The game's arrow is the window's cursor, shown only while the pointer
is over the window's client area, and comes back where the pointer comes back; on the master's
address prompt, drawn once, it follows the pointer, and no frame holds it.

Usage: test_desktop.py PROGRAM.EXE --data DATA --text-mask TEXT_MASK --pictures-tool MAKE_PICTURES
"""

import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window"))
# pylint: disable=wrong-import-position
import wine
from harness.checks import check
from harness.desktop import drawn_icon, leave_and_come_back, menu_frame, net_wm_icon
from harness.geometry import MAIN_MENU
from harness.runner import main
from netplay.peer import LOOPBACK
from netplay.screens import ADDRESS_PROMPT, NICK_PROMPT, ORANGE, PROMPT_AT, open_network_menu
from test_arrow import follows

NAME = "windows_desktop"
# The size that wine gives a window's _NET_WM_ICON from the program's icon.
ICON_SIZE = 32


def pid_of_program(pid, exe):
    """Whether the Linux process `pid` runs the Windows program `exe` (wine's processes name the
    program on their command line)."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return os.path.basename(exe).encode() in f.read()
    except OSError:
        return False


def test(h):
    display = h.display()
    prefix = wine.prefix(h)
    exe = wine.beside_pictures(h, h.exe)
    game = wine.WineProgram(h, display, prefix, exe)
    game.wait_for_menu()
    game.ready_for_input()

    names = re.findall(r'"([^"]*)"', display.xprop(game.window, "WM_CLASS") or "")
    check(names == ["fiveinarow.exe", "fiveinarow.exe"], f"WM_CLASS {names}")
    pid = display.xprop(game.window, "_NET_WM_PID")
    check(pid is not None and pid_of_program(int(pid), exe),
          f"_NET_WM_PID {pid} is not the program's process")
    icons = net_wm_icon(display, game.window)
    check(ICON_SIZE in icons, f"_NET_WM_ICON has the sizes {sorted(icons)}, not {ICON_SIZE}")
    want = drawn_icon(h, h.options.pictures_tool, ICON_SIZE)
    # Where the icon is see-through its colour means nothing.
    wrong = [i for i, (a, b) in enumerate(zip(icons[ICON_SIZE], want))
             if a >> 24 != b >> 24 or (b >> 24 != 0 and a != b)]
    check(not wrong, f"the window's {ICON_SIZE} x {ICON_SIZE} icon differs from the desktop "
          f"entry's in {len(wrong)} pixels, the first at "
          f"{divmod(wrong[0], ICON_SIZE)[::-1] if wrong else ''}")

    game.move(400, 300)
    leave_and_come_back(game, menu_frame(h), (123, 456), "the main menu")

    open_network_menu(game, "net_slave.tga")
    game.wait_for_screen(lambda img: game.text_shown(img, *PROMPT_AT, ADDRESS_PROMPT, ORANGE),
                         f"the prompt {ADDRESS_PROMPT!r}")
    follows(game, "the address prompt")
    # Nobody listens in the test's network: a connection error, then the main menu.
    game.type_text(LOOPBACK)
    game.key("Return", seen=lambda img: game.text_shown(img, *PROMPT_AT, NICK_PROMPT, ORANGE),
             what=f"the prompt {NICK_PROMPT!r}")
    game.type_text("bert")
    game.key("Return")
    game.key("space", seen=lambda img: game.menu_shown(img, MAIN_MENU),
             what="the main menu after the connection error")
    game.leave()
    check(game.wait_for_exit() == 0, "exit status not 0")


if __name__ == "__main__":
    main(NAME, test, options=[("--pictures-tool", "the picture generator (make_pictures)")])
