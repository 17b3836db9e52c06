"""A whole network game won by the slave on a rising diagonal: "Player two wins" with the red line
on both screens. Clicks that are no move (a taken cell, beside the
grid, in the peer's turn) change nothing on either screen and send nothing."""

from harness import cell_centre, check, main
from netplay import NetGame, leave, two_programs

# The master spreads its circles over the top row; the slave climbs from (15, 11) to (11, 15).
OPENING = [(0, 0), (15, 11), (2, 0), (14, 12), (4, 0), (13, 13)]
MIDDLE = [(6, 0), (12, 14), (8, 0)]


def test(h):
    master, slave = two_programs(h)
    game = NetGame(master, slave)
    game.start(master_nick="", slave_nick="zoe")
    game.play(OPENING)

    # The master's turn: the slave clicks an empty cell; the master clicks a taken one and one
    # beside the grid.
    game.ignored_click(2, cell_centre(9, 9))
    game.ignored_click(1, cell_centre(15, 11))
    game.ignored_click(1, (330, 100))
    game.play(MIDDLE)
    game.win((11, 15), ((15, 11), (11, 15)))

    for program in (master, slave):
        leave(program)
        check(program.lines() == ["Initing net", "Choice: 1", "Choice: 2", "End", "system done"],
              f"output: {program.lines()}")


if __name__ == "__main__":
    main("net_win_slave", test)
