"""A hostile peer sends whole boards that are not its one next move: a cell holding 7, two marks at
once, a mark over the program's own, the last board again, and a move while it is the program's
turn (on both listening ports). The program must refuse each with its reason, end the game as
interrupted over the last true board, drop the peer, and come back to the main menu after a key,
ready for the next game."""

from harness.runner import main
from netplay.games import begin, peer_moves, program_moves, refused
from netplay.peer import Peer, data_message
from netplay.screens import leave, one_program


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


def test(h):
    game, log = one_program(h)

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
    leave(game, log)


if __name__ == "__main__":
    main("peer_bad_moves", test)
