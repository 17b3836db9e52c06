"""A whole network game between two programs, won by the master: every move shows on both
screens, both end screens say "Player one wins" with the red line, and a key on each brings its
main menu back."""

from harness import check, main
from netplay import NetGame, leave, two_programs

# The master fills the top row from the left; the slave answers in the second row.
MOVES = [(0, 0), (0, 1), (1, 0), (1, 1), (2, 0), (2, 1), (3, 0), (3, 1)]


def test(h):
    master, slave = two_programs(h)
    game = NetGame(master, slave)
    game.start(master_nick="anna", slave_nick="bert")
    game.play(MOVES)
    game.win((4, 0), ((0, 0), (4, 0)))

    for program in (master, slave):
        leave(program)
    check(master.lines() == ["Initing net", "Choice: 1", "Choice: 2", "End", "system done"],
          f"master's output: {master.lines()}")
    check(slave.lines() == ["Initing net", "Choice: 1", "Choice: 2", "End", "system done"],
          f"slave's output: {slave.lines()}")
    check("Listner: accepted socket from 127.0.0.1" in master.lines("stderr"),
          "the master did not accept the slave's connection")
    check("Listner: accepted socket from 127.0.0.1" in slave.lines("stderr"),
          "the slave did not accept the master's connection back")


if __name__ == "__main__":
    main("net_win_master", test)
