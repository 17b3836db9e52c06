"""A mouse button held down after a move does not pass to the next turn: moved onto an empty cell
it places no mark until it has been released and pressed again."""

from harness.checks import check
from harness.geometry import cell_centre, cell_mark
from harness.runner import main


def test(h):
    game = h.program(h.display())
    game.wait_for_menu()
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


if __name__ == "__main__":
    main("held_button", test)
