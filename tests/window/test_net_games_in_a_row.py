"""Three network games in a row in one run of both programs, the roles swapped in between: a win
for the first master, a game that the slave ends with Escape, and a win for the slave. Every game
starts on an empty board, and both programs end normally afterwards."""

from harness.checks import check
from harness.runner import main
from netplay.games import NetGame
from netplay.screens import ACCEPTED, leave, two_programs

# Player one fills column 0 from the top; player two answers in column 1.
COLUMN = [(0, 0), (1, 0), (0, 1), (1, 1), (0, 2), (1, 2), (0, 3), (1, 3)]
# Player two completes a falling diagonal from (10, 10) to (14, 14).
DIAGONAL = [(0, 15), (10, 10), (2, 15), (11, 11), (4, 15), (12, 12), (6, 15), (13, 13),
            (8, 15)]


def test(h):
    a, b = two_programs(h)

    game = NetGame(a, b)
    game.start(master_nick="a", slave_nick="b")
    game.play(COLUMN)
    game.win((0, 4), ((0, 0), (0, 4)))

    game = NetGame(b, a)
    game.start(master_nick="b", slave_nick="a")
    game.play([(15, 0), (14, 1), (13, 2)])
    game.escape(2)

    game = NetGame(a, b)
    game.start(master_nick="a", slave_nick="b")
    game.play(DIAGONAL)
    game.win((14, 14), ((10, 10), (14, 14)))

    leave(a)
    leave(b)
    check(a.lines() == ["Initing net", "Choice: 1", "Choice: 1", "Choice: 1", "Choice: 2", "End",
                        "system done"], f"a's output: {a.lines()}")
    check(b.lines() == ["Initing net", "Choice: 1", "Choice: 1", "Remote interrupt", "Choice: 1",
                        "Choice: 2", "End", "system done"], f"b's output: {b.lines()}")
    for program in (a, b):
        check(program.lines("stderr").count(ACCEPTED) == 3,
              "not one accepted connection per game")


if __name__ == "__main__":
    main("net_games_in_a_row", test)
