"""The main menu appears with its three buttons; clicks beside the buttons choose nothing; the exit
button ends the program with "Choice: 2", "End", "system done" and status 0."""

from harness.checks import check
from harness.geometry import MAIN_MENU, SCREEN_H, SCREEN_W
from harness.runner import main


def test(h):
    game = h.program(h.display())
    game.wait_for_menu()
    check(game.lines() == ["Initing net"], f"start-up output: {game.lines()}")

    # Beside every button, and one pixel past the right and bottom edges of the exit button,
    # which belong to the background.
    exit_x, exit_y = MAIN_MENU["mi_exit.tga"]
    exit_w, exit_h = h.picture("mi_exit.tga").width, h.picture("mi_exit.tga").height
    row = exit_y + 24
    for x, y in ((60, row), (320, row), (560, row), (400, exit_y - 30), (400, exit_y + 80),
                 (exit_x + exit_w, exit_y + 10), (exit_x + 10, exit_y + exit_h)):
        game.click(x, y)
    # A frame drawn after the last click: a choice would be written by now.
    game.move(SCREEN_W // 2, SCREEN_H // 2)
    check(game.menu_shown(game.last_shot, MAIN_MENU), "the main menu is gone")
    check(game.lines() == ["Initing net"], f"a click beside the buttons chose: {game.lines()}")

    # The button's top-left pixel is part of it.
    game.click(exit_x, exit_y)
    game.expect_clean_exit(["Initing net", "Choice: 2", "End", "system done"])


if __name__ == "__main__":
    main("menu_exit", test)
