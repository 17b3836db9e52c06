"""The scripted peer plays master against the program as slave, over and over in one run: the
set-up's bytes (the nick as typed, an empty nick), a game the program wins and one the peer wins
(either win shown with its line), message types the program does not know (skipped, the game goes
on), Escape on the program's side, the peer's interrupt, a master that connects back but sends no
nick or too long a one, and one that leaves without connecting back."""

from harness.runner import main
from netplay.games import (begin, ends_interrupted, escape_here, leave_end_screen, peer_moves,
                           program_moves)
from netplay.peer import BYE_MESSAGE, LOOPBACK, Peer, message, nick_message
from netplay.screens import join, leave, one_program, wait_for_end, wait_for_notice


def program_wins(game, log):
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


def test(h):
    game, log = one_program(h)

    program_wins(game, log)
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

    leave(game, log)


if __name__ == "__main__":
    main("peer_as_master", test)
