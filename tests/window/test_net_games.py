"""Two programs, each on its own display, through every network screen, part by part; each part
checks what its programs wrote meanwhile:

- no master: a slave pointed at an address where no master listens shows the connection error
  until a key, then the main menu; a new attempt fails the same way (its port was given back);
- waiting: Escape while the master waits brings the main menu back without an end screen and frees
  the port; a stray client that closes before sending a nick ends the wait with a notice; a slave
  listens before its nick reaches the master, waits for the connection back, and leaves that wait
  with Escape too; both ports then serve a whole game;
- a game port held by another program: the master and the slave each show the bind error until a
  key; once the port is free again they set up a game;
- whole games won by the master and by the slave: every move on both screens, both end screens
  with the red line, a key back to the main menu. In the slave's win, clicks that are no move (a
  taken cell, beside the grid, in the peer's turn) change nothing on either screen and send
  nothing;
- Escape, whoever presses it and in whichever turn: the side that pressed it is back in its main
  menu at once, the other shows "Game interrupted" until a key; only Escape in a remote turn writes
  "Local interrupt";
- three games in a row with the roles swapped in between, each on an empty board;
- a button held down after a network move does not pass to the next local turn: moved onto empty
  cells it places and sends nothing until released and pressed again;
- a peer that vanishes: the slave's program is killed while the master waits for its move and in
  the master's own turn; the master's game ends with "Game interrupted" (a press on the end screen
  changes nothing), a key brings its main menu back, and it hosts the next game with a new slave;
- the slave ends from Exit; the master, waiting for a slave after a nick answered with keypad
  Enter, ends cleanly on SIGINT. No connection error is printed as an error line.
"""

import signal

from harness.checks import WAIT, check
from harness.geometry import MAIN_MENU, cell_centre
from harness.runner import main
from netplay.games import NetGame
from netplay.peer import (LOOPBACK, MASTER_PORT, SLAVE_PORT, Peer, connect_to, port_free,
                          port_taken)
from netplay.screens import (ACCEPTED, LOCAL_TURN, RECEIVED_BOARD, REMOTE_TURN, WAITING,
                             count_lines, dismiss, expect_notice, host, join, leave, new_lines,
                             notice_shown, turn_shown, two_programs, wait_for_end, wait_for_turn,
                             wait_for_waiting)

REFUSED = "ClinetSocket: Cannot connect to server - Connection refused"
IN_USE = "ServerSocket: cannot bind to port {} - Address already in use"
CLOSED = "Listener: connection closed by peer"
MASTER, SLAVE = 1, 2
# Player one fills column 0 from the top; player two answers in column 1.
COLUMN = [(0, 0), (1, 0), (0, 1), (1, 1), (0, 2), (1, 2), (0, 3), (1, 3)]
# Player two completes a falling diagonal from (10, 10) to (14, 14).
DIAGONAL = [(0, 15), (10, 10), (2, 15), (11, 11), (4, 15), (12, 12), (6, 15), (13, 13), (8, 15)]


class Part:
    """What the programs write during one part: `out` ({program: lines}) on standard output, and
    `accepted` connections each (None: not counted)."""

    def __init__(self, name, out, accepted=None):
        self.name, self.out, self.accepted = name, out, accepted

    def __enter__(self):
        self.before = {p: (p.lines(), p.lines("stderr")) for p in self.out}
        return self

    def __exit__(self, kind, *rest):
        if kind is not None:
            return
        for i, (p, lines) in enumerate(self.out.items()):
            out, err = self.before[p]
            check(new_lines(p, out) == lines,
                  f"{self.name}: program {i} wrote {new_lines(p, out)}, not {lines}")
            if self.accepted is not None:
                check(new_lines(p, err, "stderr").count(ACCEPTED) == self.accepted,
                      f"{self.name}: program {i} did not accept {self.accepted} connections")


def no_master(slave):
    with Part("no master", {slave: ["Choice: 1", "Choice: 1"]}):
        for attempt in range(2):
            join(slave, LOOPBACK, "bert")
            expect_notice(slave, REFUSED)
            check(port_free(SLAVE_PORT), f"attempt {attempt + 1} left the slave's port taken")


def leave_wait(program):
    """Escape in a wait: the main menu comes back and stays, with no end screen waiting for a
    key, and nothing written."""
    before = program.lines()
    program.key("Escape")
    program.wait_for_menu(MAIN_MENU, "the main menu after Escape in the wait")
    program.expect_steady(lambda img: program.menu_shown(img, MAIN_MENU), "the main menu")
    check(new_lines(program, before) == [], f"leaving the wait wrote {new_lines(program, before)}")


def waiting(master, slave):
    with Part("waiting", {master: ["Choice: 1", "Choice: 1", "Choice: 1", "Remote interrupt"],
                          slave: ["Choice: 1", "Choice: 1"]}):
        host(master)
        leave_wait(master)
        check(port_free(MASTER_PORT), "the master still holds its port after leaving the wait")

        # A master of the test's own takes the slave's nick, connects back and says nothing.
        with Peer("master") as peer:
            peer.listen()
            join(slave, LOOPBACK, "bert")
            peer.accept()
            peer.expect_nick("bert")
            # The slave already listens: the connection back succeeds at once.
            peer.connect()
            wait_for_waiting(slave)
            leave_wait(slave)
            peer.expect_dropped()
            peer.expect_end()
        check(port_free(SLAVE_PORT), "the slave still holds its port after leaving the wait")

        # A client that connects to the waiting master and leaves without a word.
        err = master.lines("stderr")
        host(master)
        connect_to(LOOPBACK, MASTER_PORT, WAIT).close()
        expect_notice(master, "Socket::get: connection closed by peer")

        # Both ports serve a whole set-up again; this game ends by Escape.
        game = NetGame(master, slave)
        game.start()
        game.play([(5, 5)])
        game.escape(SLAVE)
        check(new_lines(master, err, "stderr").count(ACCEPTED) == 2,
              "the master did not accept exactly the stray client and the slave")


def ports_taken(master, slave):
    with Part("ports taken", {master: ["Choice: 1", "Choice: 1", "Local interrupt"],
                              slave: ["Choice: 1", "Choice: 1"]}):
        with port_taken(MASTER_PORT):
            host(master, waiting=False)
            expect_notice(master, IN_USE.format(MASTER_PORT))
        with port_taken(SLAVE_PORT):
            # The slave's port is taken before the slave connects anywhere: no master is needed.
            join(slave)
            expect_notice(slave, IN_USE.format(SLAVE_PORT))
            # A master waits meanwhile; the failed slave never reached it.
            err = master.lines("stderr")
            host(master)
            master.expect_steady(lambda img: notice_shown(master, img, WAITING),
                                 "the master still waiting")
            check(ACCEPTED not in new_lines(master, err, "stderr"),
                  "the slave that could not listen reached the master")

        game = NetGame(master, slave)
        join(slave)
        game.wait_for_turns()
        game.play([(8, 8)])
        game.escape(MASTER)


def wins(master, slave):
    # The master fills the top row from the left; the slave answers in the second row.
    with Part("the master's win", {master: ["Choice: 1"], slave: ["Choice: 1"]}, accepted=1):
        game = NetGame(master, slave)
        game.start("anna", "bert")
        game.play([(0, 0), (0, 1), (1, 0), (1, 1), (2, 0), (2, 1), (3, 0), (3, 1)])
        game.win((4, 0), ((0, 0), (4, 0)))

    # The master spreads its circles over the top row; the slave climbs from (15, 11) to
    # (11, 15). In the master's turn the slave clicks an empty cell; the master clicks a taken
    # one and one beside the grid.
    with Part("the slave's win", {master: ["Choice: 1"], slave: ["Choice: 1"]}, accepted=1):
        game = NetGame(master, slave)
        game.start("", "zoe")
        game.play([(0, 0), (15, 11), (2, 0), (14, 12), (4, 0), (13, 13)])
        for player, point in ((2, cell_centre(9, 9)), (1, cell_centre(15, 11)), (1, (330, 100))):
            game.ignored_click(player, point)
        game.play([(6, 0), (12, 14), (8, 0)])
        game.win((11, 15), ((15, 11), (11, 15)))


def escapes(master, slave):
    with Part("four games ended by Escape",
              {master: ["Choice: 1", "Choice: 1", "Local interrupt", "Choice: 1",
                        "Remote interrupt", "Choice: 1"],
               slave: ["Choice: 1", "Remote interrupt", "Choice: 1", "Choice: 1", "Choice: 1",
                       "Local interrupt"]}):
        # (who presses Escape, the moves before it)
        for player, moves in ((MASTER, []), (MASTER, [(7, 7)]), (SLAVE, [(7, 7)]),
                              (SLAVE, [(7, 7), (8, 8)])):
            game = NetGame(master, slave)
            game.start()
            game.play(moves)
            game.escape(player)


def games_in_a_row(a, b):
    with Part("three games in a row", {a: ["Choice: 1", "Choice: 1", "Choice: 1"],
                                       b: ["Choice: 1", "Choice: 1", "Remote interrupt",
                                           "Choice: 1"]}, accepted=3):
        game = NetGame(a, b)
        game.start(master_nick="a", slave_nick="b")
        game.play(COLUMN)
        game.win((0, 4), ((0, 0), (0, 4)))

        game = NetGame(b, a)
        game.start(master_nick="b", slave_nick="a")
        game.play([(15, 0), (14, 1), (13, 2)])
        game.escape(SLAVE)

        game = NetGame(a, b)
        game.start(master_nick="a", slave_nick="b")
        game.play(DIAGONAL)
        game.win((14, 14), ((10, 10), (14, 14)))


def held_button(master, slave):
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
                             f"the master's turn with the button held over {cell}")
    wait_for_turn(master, LOCAL_TURN, game.board(), "the master's turn with the button held")
    slave.expect_steady(lambda shot: turn_shown(slave, shot, REMOTE_TURN), "the slave waiting")
    check(count_lines(slave, RECEIVED_BOARD, "stderr") == sent, "the held button sent a board")
    master.release()

    # Pressed again, it plays.
    game.play([(9, 9), (10, 10)])
    game.escape(MASTER)


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


def peer_killed(h, master, slave):
    """Returns the slave that replaces the killed ones."""
    with Part("a killed peer", {master: ["Choice: 1", "Remote interrupt", "Choice: 1",
                                         "Choice: 1"]}):
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
        game.escape(MASTER)
    return slave


def test(h):
    master, slave = two_programs(h)
    first_slave = slave
    no_master(slave)
    waiting(master, slave)
    ports_taken(master, slave)
    wins(master, slave)
    escapes(master, slave)
    games_in_a_row(master, slave)
    held_button(master, slave)
    slave = peer_killed(h, master, slave)

    with Part("the end", {slave: ["Choice: 2", "End", "system done"]}):
        leave(slave)
    # The listener thread, blocked in its accept, must be woken and joined for the end to come.
    host(master, enter="KP_Enter")
    before = master.lines()
    master.proc.send_signal(signal.SIGINT)
    check(master.wait_for_exit() == 0, "exit status not 0 after SIGINT")
    check(new_lines(master, before) == ["End: signal 2", "system done"],
          f"output after SIGINT: {new_lines(master, before)}")
    check(not any(line.startswith("Error: ") for p in (master, first_slave, slave)
                  for line in p.lines("stderr")), "a connection error printed as an error line")


if __name__ == "__main__":
    main("net_games", test)
