"""A hot-seat game won to the end: the red line, the end screen's texts, a key back to the main
menu, then Exit. A key that came before the winning move does not take the end screen away: a
letter typed during the game, or the Escape pressed in the main menu before it."""

from harness.checks import check
from harness.runner import main

CASES = {
    # Player one fills (11..15, 15), ending in the bottom-right corner, the winning mark in the
    # middle; player two scatters hers. A key typed during the game.
    "player_one": {"moves": [(11, 15), (0, 0), (12, 15), (2, 0), (14, 15), (4, 0), (15, 15),
                             (6, 0), (13, 15)],
                   "winner": 1, "line": ((11, 15), (15, 15)), "typed": "a", "escape": False},
    # Player two fills (14, 2..6) down the second last column, the winning mark in the middle;
    # player one's row has gaps. Escape in the main menu first.
    "player_two": {"moves": [(0, 15), (14, 2), (2, 15), (14, 3), (4, 15), (14, 5), (6, 15),
                             (14, 6), (8, 15), (14, 4)],
                   "winner": 2, "line": ((14, 2), (14, 6)), "typed": None, "escape": True},
}


def test(h, case):
    game = h.program(h.display())
    game.wait_for_menu()
    if case["escape"]:
        game.escape_in_main_menu()
    game.play_to_win(case["moves"], case["winner"], case["line"], typed=case["typed"])
    game.choose("mi_exit.tga")
    check(game.wait_for_exit() == 0, "exit status not 0")
    check(game.lines() == ["Initing net", "Choice: 0", "Choice: 2", "End", "system done"],
          f"output: {game.lines()}")


if __name__ == "__main__":
    main("win", test, cases=CASES)
