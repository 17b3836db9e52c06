"""One program through every hot-seat screen, part by part:

- the main menu appears with its three buttons, and clicks beside them choose nothing;
- Escape does nothing in the main menu, and ends a game in either player's turn without a winning
  line; every game starts on an empty board;
- games won to the end by player two and by player one: the red line, the end screen's texts, a
  key back to the main menu. A key that came before the winning move does not take the end screen
  away: the Escape pressed in the main menu before it, or a letter typed during the game;
- clicks that change nothing: beside the grid (one pixel past each of its edges, on the texts, far
  off) and on a taken cell; the turn stays with the same player;
- a button held down after a move does not pass to the next turn: moved onto an empty cell it
  places no mark until it has been released and pressed again;
- the exit button, from its top-left pixel, ends the program with "Choice: 2", "End", "system
  done" and status 0.
"""

from harness.checks import check
from harness.geometry import (BOARD_X, BOARD_Y, CELL, CELLS, GRID_BOX, MAIN_MENU, RED, SCREEN_H,
                              SCREEN_W, TEXT_X, TURN_Y, cell_centre, cell_mark)
from harness.runner import main

# Player two fills (14, 2..6) down the second last column, the winning mark in the middle; player
# one's row has gaps. Player one fills (11..15, 15), ending in the bottom-right corner, the winning
# mark in the middle; player two scatters hers.
WINS = [([(0, 15), (14, 2), (2, 15), (14, 3), (4, 15), (14, 5), (6, 15), (14, 6), (8, 15), (14, 4)],
         2, ((14, 2), (14, 6)), None),
        ([(11, 15), (0, 0), (12, 15), (2, 0), (14, 15), (4, 0), (15, 15), (6, 0), (13, 15)],
         1, ((11, 15), (15, 15)), "a")]

# One pixel left of and above the grid, its right and bottom edges (which belong to no cell), the
# corners, then on the turn text and far off.
LEFT, TOP = BOARD_X - 1, BOARD_Y - 1
RIGHT, BOTTOM = BOARD_X + CELLS * CELL, BOARD_Y + CELLS * CELL
OFF_GRID = [(LEFT, 100), (100, TOP), (RIGHT, 100), (100, BOTTOM), (LEFT, TOP), (RIGHT, BOTTOM),
            (TEXT_X + 10, TURN_Y + 3), (700, 450)]


def empty_board(img):
    return all(cell_mark(img, c, r) == "empty" for c in range(CELLS) for r in range(CELLS))


def escape_to_menu(game):
    game.key("Escape", seen=lambda img: game.menu_shown(img, MAIN_MENU),
             what="the main menu after Escape")


def expect_new_lines(game, before, lines, what):
    check(game.lines()[len(before):] == lines, f"{what} wrote {game.lines()[len(before):]}")


def clicks_beside_buttons(h, game):
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


def escapes(game):
    before = game.lines()
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
    expect_new_lines(game, before, ["Choice: 0", "Choice: 0"], "two games ended by Escape")


def clicks_change_nothing(game, player, points):
    """Clicks each point and checks that the grid and the turn stay as they were."""
    before = game.wait_for_turn(player)
    for x, y in points:
        game.click(x, y)
        after = game.wait_for_turn(player, f"the turn of player {player} after a click at "
                                   f"({x}, {y})")
        check(after.crop(*GRID_BOX).rgb == before.crop(*GRID_BOX).rgb,
              f"a click at ({x}, {y}) changed the grid")


def invalid_clicks(game):
    before = game.lines()
    game.choose("mi_local.tga")
    clicks_change_nothing(game, 1, OFF_GRID)

    game.play(3, 3, 1)
    clicks_change_nothing(game, 2, [cell_centre(3, 3)] + OFF_GRID[:2])
    img = game.play(4, 3, 2)
    check(cell_mark(img, 3, 3) == "circle", "player one's mark was replaced")

    clicks_change_nothing(game, 1, [cell_centre(3, 3), cell_centre(4, 3)])
    game.play(0, 0, 1)
    escape_to_menu(game)
    expect_new_lines(game, before, ["Choice: 0"], "the game of invalid clicks")


def held_button(game):
    game.choose("mi_local.tga")
    game.wait_for_turn(1)

    # Player one presses on (5, 5) and keeps the button down.
    game.move(*cell_centre(5, 5))
    game.press()
    game.wait_for_screen(lambda img: game.turn_shown(img, 2),
                         "player two's turn after a press on (5, 5)")
    # Still held: over another empty cell, then back off the grid.
    game.move(*cell_centre(8, 8))
    game.move(*cell_centre(9, 8))
    img = game.wait_for_turn(2, "player two's turn with the button still held")
    check(cell_mark(img, 5, 5) == "circle", "no circle where player one pressed")
    for cell in ((8, 8), (9, 8)):
        check(cell_mark(img, *cell) == "empty", f"the held button placed a mark in {cell}")
    game.release()

    img = game.play(8, 8, 2)
    check(cell_mark(img, 9, 8) == "empty", "a mark in (9, 8)")
    img = game.play(9, 8, 1)
    check(cell_mark(img, 8, 8) == "cross", "player two's mark is gone")
    escape_to_menu(game)


def test(h):
    game = h.program(h.display())
    game.wait_for_menu()
    check(game.lines() == ["Initing net"], f"start-up output: {game.lines()}")
    clicks_beside_buttons(h, game)
    escapes(game)
    for moves, winner, line, typed in WINS:
        before = game.lines()
        if typed is None:
            game.escape_in_main_menu()
        game.play_to_win(moves, winner, line, typed=typed)
        expect_new_lines(game, before, ["Choice: 0"], f"the game won by player {winner}")
    invalid_clicks(game)
    held_button(game)

    # The button's top-left pixel is part of it.
    game.click(*MAIN_MENU["mi_exit.tga"])
    game.expect_clean_exit(["Initing net"] + ["Choice: 0"] * 6 + ["Choice: 2", "End",
                                                                 "system done"])


if __name__ == "__main__":
    main("hot_seat", test)
