"""A peer that vanishes mid-game: the slave's program is killed, once while the master waits for
its move and once in the master's own turn. Each time the master's game ends with "Game
interrupted" (a click on the end screen changes nothing), nothing crashes, a key brings the main
menu back, and the master hosts the next game with a new slave."""

from harness.checks import check
from harness.geometry import cell_centre
from harness.runner import main
from netplay.games import NetGame
from netplay.screens import dismiss, leave, new_lines, two_programs, wait_for_end

CLOSED = "Listener: connection closed by peer"


def kill_slave(game, in_turn_of):
    """Kills the slave's program in the turn of player `in_turn_of` and checks the master."""
    master, slave = game.master, game.slave
    check(game.to_move() == in_turn_of, "not the turn the test wants")
    out, err = master.lines(), master.lines("stderr")
    slave.proc.kill()
    slave.wait_for_exit()

    img = wait_for_end(master, game.board(), 0)
    errors = new_lines(master, err, "stderr")
    check(CLOSED in errors, f"the master's listener did not see the connection close: {errors}")
    check(not any(line.startswith("Error: ") for line in errors),
          f"an error line on the master: {errors}")
    if in_turn_of == 1:
        wanted, trace = [], "NetworkGame::localPlayer interrupt"
        check(trace in errors, f"the master's local turn did not write {trace!r}")
    else:
        wanted = ["Remote interrupt"]
    check(new_lines(master, out) == wanted, f"the master wrote {new_lines(master, out)}, "
          f"not {wanted}")

    # The end screen ignores the mouse: a press on an empty cell, held for a while, changes
    # nothing (the screen is not redrawn, so the pointer stays where it was).
    master.move_blind(*cell_centre(9, 9))
    master.press()
    try:
        master.expect_steady(lambda shot: shot.rgb == img.rgb, "the unchanged end screen")
    finally:
        master.release()
    dismiss(master)


def test(h):
    master, slave = two_programs(h)
    # Killed while the master waits for the slave's move, then in the master's own turn.
    for moves, in_turn_of in (([(7, 7)], 2), ([(7, 7), (8, 8)], 1)):
        game = NetGame(master, slave)
        game.start()
        game.play(moves)
        kill_slave(game, in_turn_of)
        slave = h.program(slave.display)
        slave.wait_for_menu()

    # The master plays on with a new slave.
    game = NetGame(master, slave)
    game.start()
    game.play([(3, 3), (4, 4)])
    game.escape(1)
    leave(master)
    leave(slave)
    check(master.lines() == ["Initing net", "Choice: 1", "Remote interrupt", "Choice: 1",
                             "Choice: 1", "Choice: 2", "End", "system done"],
          f"master's output: {master.lines()}")


if __name__ == "__main__":
    main("net_peer_killed", test)
