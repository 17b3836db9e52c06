"""A hot-seat game won by player one with five in the bottom row, ending in the bottom-right
corner: the red line, the end screen's texts, a key back to the main menu. A key typed during the
game does not take the end screen away."""

from harness import check, main

# Player one fills (11..15, 15), the winning mark in the middle; player two scatters hers.
MOVES = [(11, 15), (0, 0), (12, 15), (2, 0), (14, 15), (4, 0), (15, 15), (6, 0), (13, 15)]


def test(h):
    game = h.program(h.display())
    game.wait_for_menu()
    game.play_to_win(MOVES, 1, ((11, 15), (15, 15)), typed="a")
    game.choose("mi_exit.tga")
    check(game.wait_for_exit() == 0, "exit status not 0")
    check(game.lines() == ["Initing net", "Choice: 0", "Choice: 2", "End", "system done"],
          f"output: {game.lines()}")


if __name__ == "__main__":
    main("win_player_one", test)
