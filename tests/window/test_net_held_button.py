"""A mouse button held down after a network move does not pass to the player's next local turn:
moved onto empty cells it places nothing and sends nothing until it has been released and
pressed again."""

from harness.checks import check
from harness.geometry import cell_centre
from harness.runner import main
from netplay.games import NetGame
from netplay.screens import (LOCAL_TURN, RECEIVED_BOARD, REMOTE_TURN, count_lines, leave,
                             turn_shown, two_programs, wait_for_turn)


def test(h):
    master, slave = two_programs(h)
    game = NetGame(master, slave)
    game.start()

    # The master presses on (5, 5) and keeps the button down through the slave's move.
    master.move(*cell_centre(5, 5))
    master.press()
    game.moves.append((5, 5))
    game.wait_for_turns()
    game.play([(6, 6)])

    # Its own turn again, the button still down, over two empty cells and back off the grid.
    sent = count_lines(slave, RECEIVED_BOARD, "stderr")
    for cell in ((9, 9), (10, 9)):
        master.move(*cell_centre(*cell))
        master.expect_steady(lambda img: turn_shown(master, img, LOCAL_TURN),
                             f"{LOCAL_TURN[0]!r} with the button held over {cell}")
    wait_for_turn(master, LOCAL_TURN, game.board(), "the master's turn with the button held")
    slave.expect_steady(lambda shot: turn_shown(slave, shot, REMOTE_TURN), "the slave waiting")
    check(count_lines(slave, RECEIVED_BOARD, "stderr") == sent, "the held button sent a board")
    master.release()

    # Pressed again, it plays.
    game.play([(9, 9), (10, 10)])
    game.escape(1)
    leave(master)
    leave(slave)


if __name__ == "__main__":
    main("net_held_button", test)
