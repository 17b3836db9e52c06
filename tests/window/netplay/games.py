"""Whole network games: the program against the scripted peer, and two programs."""

from harness.checks import check
from harness.geometry import MAIN_MENU, PARK, cell_centre
from .peer import LOOPBACK, Board
from .screens import (LOCAL_TURN, RECEIVED_BOARD, REMOTE_TURN, count_lines, dismiss, host, join,
                      new_lines, turn_shown, wait_for_end, wait_for_turn)

# ---- The program against the scripted peer ----


def begin(game, peer, log, nick="h5"):
    """From the main menu to the first turn of a network game against `peer`, which must be
    fresh: the program is the slave of a master peer, or the master of a slave peer."""
    peer.listen()
    if peer.role == "master":
        join(game, LOOPBACK, nick)
        peer.take_slave(nick)
    else:
        host(game)
        peer.join_master(nick)
    log.expect(out=["Choice: 1"])
    wait_for_board(game, peer.board, local=peer.role == "slave")


def wait_for_board(game, board, local):
    """The program's local (or remote) turn showing exactly `board`, the pointer parked."""
    return wait_for_turn(game, LOCAL_TURN if local else REMOTE_TURN, board,
                         f"the {'local' if local else 'remote'} turn")


def peer_moves(game, peer, c, r):
    """The peer plays (c, r); the program shows it in its local turn."""
    peer.play(c, r)
    return wait_for_board(game, peer.board, local=True)


def program_moves(game, peer, c, r, last=False):
    """The program's user clicks (c, r); the peer checks the board that comes. Unless it is the
    game's last move, the program then shows its remote turn."""
    game.click(*cell_centre(c, r))
    peer.expect_move(c, r)
    if not last:
        wait_for_board(game, peer.board, local=False)


def leave_end_screen(game, peer):
    """A key takes the program from its end screen (or a connection notice) to the main menu.
    By then the program has closed both of its connections with the peer, with nothing more
    sent on the one it writes on and nothing ever on the other."""
    dismiss(game, "the main menu after the game")
    if peer.inbound is not None:
        peer.expect_end()
    if peer.outbound is not None:
        peer.expect_dropped()


def ends_interrupted(game, peer, log, out=(), err=()):
    """The program's game ended without a winner: "Game interrupted" over the board as the peer
    knows it, and the lines that say why; then back to the main menu."""
    wait_for_end(game, peer.board, 0)
    log.expect(out, err)
    log.check()
    leave_end_screen(game, peer)


def refused(game, peer, log, line, local):
    """The program refused what the peer sent last, in its local (or remote) turn: the error
    line, the connection it came on closed at once, and the game over as interrupted."""
    peer.expect_dropped()
    if local:
        ends_interrupted(game, peer, log, err=[line, "NetworkGame::localPlayer interrupt"])
    else:
        ends_interrupted(game, peer, log, out=["Remote interrupt"], err=[line])


def escape_here(game, peer, log, out=()):
    """Escape in the program's turn: the peer gets the interrupt message and the program goes
    back to the main menu. The end screen may pass unseen: the Escape that the turn saw is also
    in the keyboard buffer, and the end screen's wait takes it."""
    game.key("Escape")
    peer.expect_interrupt()
    game.move_blind(*PARK)
    img = game.wait_for_screen(
        lambda img: game.menu_shown(img, MAIN_MENU) or game.end_screen_shown(img, 0),
        "the main menu (or the end screen) after Escape")
    if game.end_screen_shown(img, 0):
        dismiss(game, "the main menu after the game")
    log.expect(out)
    log.check()
    peer.expect_end()
    peer.expect_dropped()


# ---- A game between two programs ----


class NetGame:
    """One network game: `master` hosts, `slave` joins over loopback; both start in the main
    menu. Keeps the moves made so far to check both boards after each one."""

    def __init__(self, master, slave):
        self.sides = {1: master, 2: slave}
        self.moves = []

    @property
    def master(self):
        return self.sides[1]

    @property
    def slave(self):
        return self.sides[2]

    def board(self):
        return Board.of_moves(self.moves)

    def to_move(self):
        """The player (1 or 2) whose turn it is."""
        return 1 + len(self.moves) % 2

    def start(self, master_nick="anna", slave_nick="bert"):
        host(self.master, master_nick)
        join(self.slave, LOOPBACK, slave_nick)
        self.wait_for_turns()

    def wait_for_turns(self, after=""):
        """Both screens show the turn of the player to move, with the board so far."""
        mover = self.to_move()
        for player, program in self.sides.items():
            turn = LOCAL_TURN if player == mover else REMOTE_TURN
            wait_for_turn(program, turn, self.board(), f"{turn[0]!r} on player {player}'s screen "
                          f"after {len(self.moves)} moves{after}")

    def play(self, moves):
        """Plays `moves` in turn order, none of them ending the game; after each, the mover's
        screen waits for the peer and the peer's screen shows the mark and its own turn."""
        for cell in moves:
            self.sides[self.to_move()].click(*cell_centre(*cell))
            self.moves.append(cell)
            self.wait_for_turns()

    def ignored_click(self, player, cell):
        """A click by `player` that must change nothing: on a taken cell or off the grid in its
        own turn, or anywhere in the peer's turn. Nothing goes to the peer either."""
        program, peer = self.sides[player], self.sides[3 - player]
        received = count_lines(peer, RECEIVED_BOARD, "stderr")
        program.click(*cell)
        self.wait_for_turns(f" and an ignored click at {cell}")
        mover = self.to_move()
        for p, other in self.sides.items():
            turn = LOCAL_TURN if p == mover else REMOTE_TURN
            other.expect_steady(lambda shot, o=other, t=turn: turn_shown(o, shot, t),
                                f"{turn[0]!r} after an ignored click")
        check(count_lines(peer, RECEIVED_BOARD, "stderr") == received,
              f"a click at {cell} that changed nothing sent a board")

    def escape(self, player):
        """`player` presses Escape, in its own turn or in the peer's: its game ends at once (the
        Escape that ended the turn also ends the wait of its end screen), and the peer's game ends
        with "Game interrupted" until a key."""
        program, peer = self.sides[player], self.sides[3 - player]
        in_own_turn = self.to_move() == player
        out, peer_out, peer_err = program.lines(), peer.lines(), peer.lines("stderr")
        program.move_blind(*PARK)
        program.key("Escape")
        program.wait_for_menu(MAIN_MENU, "the main menu after Escape")
        # Only the remote turn reports an Escape.
        wanted = [] if in_own_turn else ["Local interrupt"]
        turn = "its own turn" if in_own_turn else "the peer's turn"
        check(new_lines(program, out) == wanted,
              f"Escape in {turn} wrote {new_lines(program, out)}, not {wanted}")

        wait_for_end(peer, self.board(), 0)
        # The peer was in the other kind of turn.
        wanted = ["Remote interrupt"] if in_own_turn else []
        check(new_lines(peer, peer_out) == wanted,
              f"the peer wrote {new_lines(peer, peer_out)}, not {wanted}")
        errors = new_lines(peer, peer_err, "stderr")
        check("Listener: Remote interrupt recieved" in errors,
              "the peer's listener did not report the interrupt message")
        check(("NetworkGame::localPlayer interrupt" in errors) != in_own_turn,
              "\"NetworkGame::localPlayer interrupt\" not written by the peer's local turn only")
        peer.expect_steady(lambda shot: peer.end_screen_shown(shot, 0), "the end screen")
        dismiss(peer)

    def win(self, cell, line):
        """The player to move completes `line` (its end cells) with `cell`: both screens show
        "Player N wins" and the red line, the other's right after loading the winning board. A
        key on each brings the main menu back."""
        winner = self.to_move()
        won, lost = self.sides[winner], self.sides[3 - winner]
        won.click(*cell_centre(*cell))
        self.moves.append(cell)
        for program in (won, lost):
            wait_for_end(program, self.board(), winner, line)
        # Both end screens wait for their key.
        for program in (won, lost):
            program.expect_steady(lambda shot, p=program: p.end_screen_shown(shot, winner),
                                  "the end screen")
        dismiss(won)
        dismiss(lost)
