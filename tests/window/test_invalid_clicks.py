"""Clicks that must change nothing in a hot-seat game: beside the grid (one pixel past each of its
edges, on the texts, far off) and on a taken cell. The turn stays with the same player."""

from harness.checks import check
from harness.geometry import (BOARD_X, BOARD_Y, CELL, CELLS, GRID_BOX, MAIN_MENU, TEXT_X, TURN_Y,
                              cell_centre, cell_mark)
from harness.runner import main

# One pixel left of and above the grid, its right and bottom edges (which belong to no cell), the
# corners, then on the turn text and far off.
LEFT, TOP = BOARD_X - 1, BOARD_Y - 1
RIGHT, BOTTOM = BOARD_X + CELLS * CELL, BOARD_Y + CELLS * CELL
OFF_GRID = [(LEFT, 100), (100, TOP), (RIGHT, 100), (100, BOTTOM), (LEFT, TOP), (RIGHT, BOTTOM),
            (TEXT_X + 10, TURN_Y + 3), (700, 450)]


def grid(img):
    return img.crop(*GRID_BOX).rgb


def clicks_change_nothing(game, player, points):
    """Clicks each point and checks that the grid and the turn stay as they were."""
    before = game.wait_for_turn(player)
    for x, y in points:
        game.click(x, y)
        after = game.wait_for_turn(player, f"the turn of player {player} after a click at "
                                   f"({x}, {y})")
        check(grid(after) == grid(before), f"a click at ({x}, {y}) changed the grid")


def test(h):
    game = h.program(h.display())
    game.wait_for_menu()
    game.choose("mi_local.tga")
    clicks_change_nothing(game, 1, OFF_GRID)

    game.play(3, 3, 1)
    clicks_change_nothing(game, 2, [cell_centre(3, 3)] + OFF_GRID[:2])
    img = game.play(4, 3, 2)
    check(cell_mark(img, 3, 3) == "circle", "player one's mark was replaced")

    clicks_change_nothing(game, 1, [cell_centre(3, 3), cell_centre(4, 3)])
    game.play(0, 0, 1)
    game.key("Escape", seen=lambda img: game.menu_shown(img, MAIN_MENU),
             what="the main menu after Escape")
    check(game.lines() == ["Initing net", "Choice: 0"], f"output: {game.lines()}")


if __name__ == "__main__":
    main("invalid_clicks", test)
