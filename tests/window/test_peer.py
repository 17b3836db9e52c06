"""One program against the scripted peer, game after game in one run, with the peer:

- as master, the program its slave: the set-up's bytes (the nick as typed, an empty nick), a game
  the program wins and one the peer wins (either win shown with its line), message types the
  program does not know (skipped, the game goes on), Escape on the program's side, the peer's
  interrupt, a master that connects back but sends no nick or too long a one, and one that
  leaves without connecting back;
- as slave, the program its master: stray clients that connect to the waiting master and close
  or send too long a nick (the set-up stops waiting and shows why), a slave that does not listen
  for the connection back, a game the program wins with a nick of the longest length taken,
  Escape in the program's remote turn, and the peer's interrupt in the program's own turn;
- broken or hostile: messages the program must not take (a length near 4 GiB for a board and for
  an unknown type, a board of 100 bytes, a connection that ends in the middle of a message's
  payload or header) and whole boards that are not the peer's one next move (a cell holding 7,
  two marks at once, a mark over the program's own, the last board again, a move in the
  program's turn), in either of the program's turns and on both of its listening ports. Each
  time the program writes why, ends the game as interrupted over the last true board, drops the
  peer, comes back to the main menu after a key and plays the next game;
- quick taps: a key or button held for 5 ms, which a loop that rests between its passes may never
  see down, still does what it does: 5 ms clicks on cells place the marks turn after turn in a
  hot-seat game, and a 5 ms Escape ends it; a 5 ms Escape in the remote turn of a network game
  (the program as slave of the peer) ends the game and tells the peer; one in the master's wait
  for a slave, and one in a slave's connect to an address that does not answer (its packets
  dropped with nftables in the test's private network namespace), brings the main menu back.
  Each wait for the tap's effect has the harness's deadline: a tap the program missed fails.
"""

from harness.checks import check
from harness.geometry import MAIN_MENU, MARK, PARK, cell_centre, cell_mark
from harness.runner import main
from netplay.games import (begin, ends_interrupted, escape_here, leave_end_screen, peer_moves,
                           program_moves, refused)
from netplay.peer import BYE_MESSAGE, DATA, LOOPBACK, Peer, data_message, message, nick_message
from netplay.screens import (host, join, leave, one_program, unanswered, wait_for_end,
                             wait_for_notice, wait_for_waiting)

HUGE = 0xFFFFFFF0
# How many times each waiting screen takes a quick tap.
TAPS = 3


def program_wins_as_slave(game, log):
    """The program (player two) completes a row; the peer gets every board, the last one with
    the five, and the program shows its win with the red line."""
    with Peer("master") as peer:
        begin(game, peer, log, nick="h5.peer-1")
        for i in range(4):
            peer_moves(game, peer, 0, 2 * i)
            program_moves(game, peer, 5 + i, 5)
        peer_moves(game, peer, 0, 8)
        program_moves(game, peer, 9, 5, last=True)
        wait_for_end(game, peer.board, 2, ((5, 5), (9, 5)))
        log.check()
        leave_end_screen(game, peer)


def peer_wins(game, log):
    """The peer's board completes a diagonal: the program loads it, shows the peer's win with
    the red line as the peer's own screen would, and drops the peer's connection. The nick is
    empty."""
    with Peer("master") as peer:
        begin(game, peer, log, nick="")
        for i in range(4):
            peer_moves(game, peer, 3 + i, 3 + i)
            program_moves(game, peer, i, 15)
        peer.play(7, 7)
        peer.expect_dropped()
        wait_for_end(game, peer.board, 1, ((3, 3), (7, 7)))
        log.check()
        leave_end_screen(game, peer)


def unknown_types_then_escape(game, log):
    """Messages of types the program does not know are skipped whole, payload and all, at the
    start and in the middle of a game; the moves after them still count. Escape in the
    program's turn then sends the interrupt."""
    with Peer("master") as peer:
        begin(game, peer, log)
        peer.send(message(7, b"\x01\x02"))
        peer_moves(game, peer, 8, 8)
        program_moves(game, peer, 9, 9)
        # Empty, and as long as the program skips; each looks like a move in its payload.
        peer.send(message(200, b""))
        peer.send(message(3, bytes(peer.board.copy().mark(1, 1, 1).cells) * 16))
        peer_moves(game, peer, 8, 9)
        log.expect(err=["Listener: wrong message! "] * 3)
        escape_here(game, peer, log)


def peer_interrupts(game, log):
    """The peer's interrupt in the program's remote turn ends the game there."""
    with Peer("master") as peer:
        begin(game, peer, log)
        peer_moves(game, peer, 2, 2)
        program_moves(game, peer, 3, 3)
        peer.send(BYE_MESSAGE)
        peer.expect_dropped()
        ends_interrupted(game, peer, log, out=["Remote interrupt"],
                         err=["Listener: Remote interrupt recieved"])


def no_nick_back(game, log, send, notice, line=None):
    """The peer takes the program's nick and connects back, but sends `send` and closes instead
    of its nick (with `send` None, it leaves without connecting back at all): the program stops
    waiting, shows `notice` until a key, then the main menu."""
    with Peer("master") as peer:
        peer.listen()
        join(game, LOOPBACK, "h5")
        peer.accept()
        peer.expect_nick("h5")
        if send is None:
            peer.close()
        else:
            peer.connect()
            peer.send(send)
            peer.hang_up()
        wait_for_notice(game, notice)
        log.expect(out=["Choice: 1"], err=[line] if line else [])
        log.check()
        leave_end_screen(game, peer)


def stray(game, log, send, notice, line):
    """A client connects to the waiting master, sends `send` (no nick) and closes."""
    with Peer("slave") as peer:
        host(game)
        peer.connect()
        peer.send(send)
        peer.hang_up()
        wait_for_notice(game, notice)
        log.expect(out=["Choice: 1"], err=[line])
        log.check()
        leave_end_screen(game, peer)


def slave_not_listening(game, log):
    """A slave sends its nick but does not listen for the connection back: the master's
    connect-back fails, and the program shows the system's reason until a key."""
    with Peer("slave") as peer:
        host(game)
        peer.connect()
        peer.send(nick_message("deaf"))
        wait_for_notice(game, "ClinetSocket: Cannot connect to server - Connection refused")
        log.expect(out=["Choice: 1"])
        log.check()
        leave_end_screen(game, peer)


def program_wins_as_master(game, log):
    """The program (player one, moving first) completes a column against a peer whose nick is
    as long as the program takes; the peer checks the "Master" nick and every board."""
    with Peer("slave") as peer:
        begin(game, peer, log, nick="n" * 64)
        for i in range(4):
            program_moves(game, peer, 7, 7 + i)
            peer_moves(game, peer, i, 0)
        program_moves(game, peer, 7, 11, last=True)
        wait_for_end(game, peer.board, 1, ((7, 7), (7, 11)))
        log.check()
        leave_end_screen(game, peer)


def escape_in_remote_turn(game, log):
    with Peer("slave") as peer:
        begin(game, peer, log)
        program_moves(game, peer, 4, 4)
        escape_here(game, peer, log, out=["Local interrupt"])


def peer_interrupts_local_turn(game, log):
    with Peer("slave") as peer:
        begin(game, peer, log)
        program_moves(game, peer, 4, 4)
        peer_moves(game, peer, 5, 5)
        peer.interrupt()
        peer.expect_dropped()
        ends_interrupted(game, peer, log, err=["Listener: Remote interrupt recieved",
                                               "NetworkGame::localPlayer interrupt"])


def bad_board_length(game, log, role, size, length=None):
    """In the program's remote turn, the peer's next board, cut to `size` bytes, comes under a
    header that says `length` (default: the true size)."""
    with Peer(role) as peer:
        begin(game, peer, log)
        if role == "master":
            peer_moves(game, peer, 3, 3)
        program_moves(game, peer, 4, 4)
        cells = peer.board.copy().mark(5, 5, peer.player).cells[:size]
        peer.send(message(DATA, cells, length=length))
        refused(game, peer, log, f"Error: Listener: refused data message of {length or size} "
                "bytes (a board has 256)", local=False)


def huge_unknown_type(game, log):
    with Peer("master") as peer:
        begin(game, peer, log)
        peer_moves(game, peer, 3, 3)
        peer.send(message(9, b"\x00" * 64, length=HUGE))
        refused(game, peer, log, "Error: Listener: refused message of type 9 and 4294967280 "
                "bytes (at most 4096)", local=True)


def closed_mid_message(game, log, cut, local):
    """The peer sends the first `cut` bytes of its next move and closes its connection."""
    role = "slave" if local else "master"
    with Peer(role) as peer:
        begin(game, peer, log)
        if role == "master":
            peer_moves(game, peer, 3, 3)
        program_moves(game, peer, 4, 4)
        if local:
            peer_moves(game, peer, 5, 5)
        move = message(1, peer.board.copy().mark(6, 6, peer.player).cells)
        peer.send(move[:cut])
        peer.hang_up()
        line = "Listener: connection closed by peer"
        if local:
            ends_interrupted(game, peer, log, err=[line, "NetworkGame::localPlayer interrupt"])
        else:
            ends_interrupted(game, peer, log, out=["Remote interrupt"], err=[line])


def opened(game, peer, log):
    """Starts a game and plays one move each, the program's last when it is the slave."""
    begin(game, peer, log)
    if peer.role == "master":
        peer_moves(game, peer, 3, 3)
        program_moves(game, peer, 4, 4)
    else:
        program_moves(game, peer, 3, 3)
        peer_moves(game, peer, 4, 4)


def refuse(game, log, role, make_board, reason, local=False):
    """After a move each (and one more, to reach the program's local or remote turn as asked),
    the peer sends make_board(its board, its player) instead of a move."""
    with Peer(role) as peer:
        opened(game, peer, log)
        if local and role == "master":
            peer_moves(game, peer, 5, 3)
        if not local and role == "slave":
            program_moves(game, peer, 5, 3)
        peer.send(data_message(make_board(peer.board.copy(), peer.player).cells))
        refused(game, peer, log, "Error: Listener: refused data message: " + reason, local)


def back_to_menu(game, what):
    """After a tapped Escape that ended a game: the main menu, or the end screen on the way (its
    wait takes the Escape from the key buffer, so it may pass unseen), then the main menu."""
    game.move_blind(*PARK)
    img = game.wait_for_screen(
        lambda img: game.menu_shown(img, MAIN_MENU) or game.end_screen_shown(img, 0), what)
    if not game.menu_shown(img, MAIN_MENU):
        game.key("space")
        game.wait_for_menu(what=f"the main menu after the end screen, {what}")


def hot_seat_taps(game, log):
    game.choose("mi_local.tga")
    log.expect(out=["Choice: 0"])
    game.wait_for_turn(1)
    for i, cell in enumerate([(3, 3), (4, 4), (5, 3), (6, 4), (7, 3)]):
        player = 1 + i % 2
        game.move(*cell_centre(*cell))
        game.tap_button()
        img = game.wait_for_turn(3 - player, f"a 5 ms click on {cell} taken")
        check(cell_mark(img, *cell) == MARK[player], f"no {MARK[player]} in {cell}")
    game.tap_key("Escape")
    back_to_menu(game, "a 5 ms Escape in a hot-seat turn")
    log.check()


def remote_wait(game, log):
    with Peer("master") as peer:
        begin(game, peer, log, nick="tap")
        game.tap_key("Escape")
        peer.expect_interrupt()
        back_to_menu(game, "a 5 ms Escape in the remote turn")
        log.expect(out=["Local interrupt"])
        log.check()
        peer.expect_end()
        peer.expect_dropped()


def master_wait(game, log):
    host(game, "h5")
    game.tap_key("Escape")
    game.wait_for_menu(what="the main menu after a 5 ms Escape in the master's wait")
    log.expect(out=["Choice: 1"])
    log.check()


def unanswered_connect(game, log):
    join(game, "127.0.0.2", "tap")
    wait_for_waiting(game)
    game.tap_key("Escape")
    game.wait_for_menu(what="the main menu after a 5 ms Escape in a connect without answer")
    log.expect(out=["Choice: 1"])
    log.check()


def test(h):
    unanswered("127.0.0.2")
    game, log = one_program(h)
    # The peer as master.
    program_wins_as_slave(game, log)
    peer_wins(game, log)
    unknown_types_then_escape(game, log)
    peer_interrupts(game, log)
    no_nick_back(game, log, b"", "Socket::get: connection closed by peer",
                 "Listener: connection closed by peer")
    too_long = "m" * 65
    no_nick_back(game, log, nick_message(too_long),
                 "Listener: refused nick message of 65 bytes (at most 64)",
                 "Error: Listener: refused nick message of 65 bytes (at most 64)")
    no_nick_back(game, log, None, "Socket::get: connection closed by peer")

    # The peer as slave.
    stray(game, log, b"", "Socket::get: connection closed by peer",
          "Listener: connection closed by peer")
    stray(game, log, message(0, b"", length=HUGE),
          "Listener: refused nick message of 4294967280 bytes (at most 64)",
          "Error: Listener: refused nick message of 4294967280 bytes (at most 64)")
    # Half a nick message, then gone.
    stray(game, log, nick_message("slave")[:7], "Socket::get: connection closed by peer",
          "Listener: connection closed by peer")
    slave_not_listening(game, log)
    program_wins_as_master(game, log)
    escape_in_remote_turn(game, log)
    peer_interrupts_local_turn(game, log)

    # A broken or hostile peer.
    bad_board_length(game, log, "master", 256, length=HUGE)
    bad_board_length(game, log, "slave", 100)
    huge_unknown_type(game, log)
    # In the payload while the program waits for the move; in the header during its own turn
    # (a move out of turn, but cut before the program could tell).
    closed_mid_message(game, log, 5 + 100, local=False)
    closed_mid_message(game, log, 3, local=True)
    refuse(game, log, "slave", lambda b, pl: b.put(6, 6, 7),
           "cell 102 holds 7, not 0, 1 or 2")
    refuse(game, log, "master", lambda b, pl: b.mark(6, 6, pl).mark(7, 7, pl),
           "not one new mark of player 1 in an empty cell")
    # The program's mark in (4, 4) taken over.
    refuse(game, log, "master", lambda b, pl: b.put(4, 4, pl),
           "not one new mark of player 1 in an empty cell")
    refuse(game, log, "slave", lambda b, pl: b,
           "not one new mark of player 2 in an empty cell")
    # Out of turn: a second move right after the peer's first, seen in the program's turn.
    refuse(game, log, "slave", lambda b, pl: b.mark(9, 9, pl), "not player 2's turn",
           local=True)
    refuse(game, log, "master", lambda b, pl: b.mark(9, 9, pl), "not player 1's turn",
           local=True)

    # Quick taps.
    hot_seat_taps(game, log)
    for screen in (remote_wait, master_wait, unanswered_connect):
        for _ in range(TAPS):
            screen(game, log)
    leave(game, log)


if __name__ == "__main__":
    main("peer", test)
