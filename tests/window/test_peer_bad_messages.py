"""A broken or hostile peer sends messages the program must not take: a length near 4 GiB for a
board and for an unknown type, a board of 100 bytes, and a connection that ends in the middle of a
message's payload or header. Each time, in either of the program's turns and on both of its
listening ports, the program writes why, ends the game as interrupted, drops the peer, comes back
to the main menu after a key and plays the next game."""

from harness.runner import main
from netplay.games import begin, ends_interrupted, peer_moves, program_moves, refused
from netplay.peer import DATA, Peer, message
from netplay.screens import leave, one_program

HUGE = 0xFFFFFFF0


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


def test(h):
    game, log = one_program(h)

    bad_board_length(game, log, "master", 256, length=HUGE)
    bad_board_length(game, log, "slave", 100)
    huge_unknown_type(game, log)
    # In the payload while the program waits for the move; in the header during its own turn
    # (a move out of turn, but cut before the program could tell).
    closed_mid_message(game, log, 5 + 100, local=False)
    closed_mid_message(game, log, 3, local=True)
    leave(game, log)


if __name__ == "__main__":
    main("peer_bad_messages", test)
