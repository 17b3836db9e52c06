"""Escape ends a network game on both sides, whoever presses it and in whichever turn: four games
in a row between the same two programs. The side that pressed it is back in its main menu at
once; the other side shows "Game interrupted" until a key. Only Escape in a remote turn writes
"Local interrupt"; the peer's turn says how it learnt of the end."""

from harness.checks import check
from harness.runner import main
from netplay.games import NetGame
from netplay.screens import leave, two_programs

MASTER, SLAVE = 1, 2


def test(h):
    master, slave = two_programs(h)
    # (who presses Escape, the moves before it)
    cases = [(MASTER, []), (MASTER, [(7, 7)]), (SLAVE, [(7, 7)]), (SLAVE, [(7, 7), (8, 8)])]
    for player, moves in cases:
        game = NetGame(master, slave)
        game.start()
        game.play(moves)
        game.escape(player)

    for program in (master, slave):
        leave(program)
    check(master.lines() == ["Initing net", "Choice: 1", "Choice: 1", "Local interrupt",
                             "Choice: 1", "Remote interrupt", "Choice: 1", "Choice: 2", "End",
                             "system done"], f"master's output: {master.lines()}")
    check(slave.lines() == ["Initing net", "Choice: 1", "Remote interrupt", "Choice: 1",
                            "Choice: 1", "Choice: 1", "Local interrupt", "Choice: 2", "End",
                            "system done"], f"slave's output: {slave.lines()}")


if __name__ == "__main__":
    main("net_escape", test)
