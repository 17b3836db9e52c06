"""A whole network game between two programs, won by the master or by the slave: every move shows
on both screens, both end screens say who won with the red line, a key on each brings its main
menu back, and both end from Exit. In the slave's win, clicks that are no move (a taken cell,
beside the grid, in the peer's turn) change nothing on either screen and send nothing."""

from harness.checks import check
from harness.geometry import cell_centre
from harness.runner import main
from netplay.games import NetGame
from netplay.screens import ACCEPTED, leave, two_programs

CASES = {
    # The master fills the top row from the left; the slave answers in the second row.
    "master": {"nicks": ("anna", "bert"),
               "moves": [(0, 0), (0, 1), (1, 0), (1, 1), (2, 0), (2, 1), (3, 0), (3, 1)],
               "ignored": [], "more": [], "win": ((4, 0), ((0, 0), (4, 0)))},
    # The master spreads its circles over the top row; the slave climbs from (15, 11) to
    # (11, 15). In the master's turn the slave clicks an empty cell; the master clicks a taken
    # one and one beside the grid.
    "slave": {"nicks": ("", "zoe"),
              "moves": [(0, 0), (15, 11), (2, 0), (14, 12), (4, 0), (13, 13)],
              "ignored": [(2, cell_centre(9, 9)), (1, cell_centre(15, 11)), (1, (330, 100))],
              "more": [(6, 0), (12, 14), (8, 0)], "win": ((11, 15), ((15, 11), (11, 15)))},
}


def test(h, case):
    master, slave = two_programs(h)
    game = NetGame(master, slave)
    game.start(*case["nicks"])
    game.play(case["moves"])
    for player, point in case["ignored"]:
        game.ignored_click(player, point)
    game.play(case["more"])
    game.win(*case["win"])

    for program, role in ((master, "master"), (slave, "slave")):
        leave(program)
        check(program.lines() == ["Initing net", "Choice: 1", "Choice: 2", "End", "system done"],
              f"{role}'s output: {program.lines()}")
        check(ACCEPTED in program.lines("stderr"), f"the {role} accepted no connection")


if __name__ == "__main__":
    main("net_win", test, cases=CASES)
