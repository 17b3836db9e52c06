"""The scripted peer plays slave against the program as master, over and over in one run: stray
clients that connect to the waiting master and close or send too long a nick (the set-up stops
waiting and shows why), a slave that does not listen for the connection back, a game the program
wins with a nick of the longest length taken, Escape in the program's remote turn, and the peer's
interrupt in the program's own turn."""

from harness.runner import main
from netplay.games import (begin, ends_interrupted, escape_here, leave_end_screen, peer_moves,
                           program_moves)
from netplay.peer import Peer, message, nick_message
from netplay.screens import host, leave, one_program, wait_for_end, wait_for_notice


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


def program_wins(game, log):
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


def test(h):
    game, log = one_program(h)

    stray(game, log, b"", "Socket::get: connection closed by peer",
          "Listener: connection closed by peer")
    stray(game, log, message(0, b"", length=0xFFFFFFF0),
          "Listener: refused nick message of 4294967280 bytes (at most 64)",
          "Error: Listener: refused nick message of 4294967280 bytes (at most 64)")
    # Half a nick message, then gone.
    stray(game, log, nick_message("slave")[:7], "Socket::get: connection closed by peer",
          "Listener: connection closed by peer")
    slave_not_listening(game, log)
    program_wins(game, log)
    escape_in_remote_turn(game, log)
    peer_interrupts_local_turn(game, log)
    leave(game, log)


if __name__ == "__main__":
    main("peer_as_slave", test)
