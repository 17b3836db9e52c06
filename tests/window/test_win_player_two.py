"""A hot-seat game won by player two with five down the second last column, after an Escape in the
main menu: that key must not end the end screen's wait."""

from harness import check, main

# Player two fills (14, 2..6), the winning mark in the middle; player one's row has gaps.
MOVES = [(0, 15), (14, 2), (2, 15), (14, 3), (4, 15), (14, 5), (6, 15), (14, 6), (8, 15),
         (14, 4)]


def test(h):
    game = h.program(h.display())
    game.wait_for_menu()
    game.escape_in_main_menu()
    game.play_to_win(MOVES, 2, ((14, 2), (14, 6)))
    game.choose("mi_exit.tga")
    check(game.wait_for_exit() == 0, "exit status not 0")
    check(game.lines() == ["Initing net", "Choice: 0", "Choice: 2", "End", "system done"],
          f"output: {game.lines()}")


if __name__ == "__main__":
    main("win_player_two", test)
