"""Escape does nothing in the main menu, and ends a hot-seat game in either player's turn without a
winning line; every game starts on an empty board."""

from harness.checks import check
from harness.geometry import CELLS, GRID_BOX, MAIN_MENU, RED, cell_mark
from harness.runner import main


def empty_board(img):
    return all(cell_mark(img, c, r) == "empty" for c in range(CELLS) for r in range(CELLS))


def escape_to_menu(game):
    game.key("Escape", seen=lambda img: game.menu_shown(img, MAIN_MENU),
             what="the main menu after Escape")


def test(h):
    game = h.program(h.display())
    game.wait_for_menu()
    game.escape_in_main_menu()

    # Escape in player two's turn.
    game.choose("mi_local.tga")
    game.wait_for_line("Choice: 0")
    first = game.wait_for_turn(1)
    check(empty_board(first), "a new game does not start on an empty board")
    game.play(3, 3, 1)
    escape_to_menu(game)

    # A new game starts afresh; Escape in player one's turn.
    game.choose("mi_local.tga")
    img = game.wait_for_turn(1, "a second game")
    check(empty_board(img), "the second game does not start on an empty board")
    check(img.count(RED, GRID_BOX) == 0, "a red line on a new board")
    escape_to_menu(game)

    game.choose("mi_exit.tga")
    check(game.wait_for_exit() == 0, "exit status not 0")
    check(game.lines() == ["Initing net", "Choice: 0", "Choice: 0", "Choice: 2", "End",
                           "system done"], f"output: {game.lines()}")


if __name__ == "__main__":
    main("escape", test)
