"""Network games between two real fiveinarow programs, each on its own display, for the window
tests of network play (see harness.py for the displays, programs and screens).

The programs meet over loopback on the game's fixed ports, in the private network namespace that
every window test runs in (see harness.private_network): a game hosted on this machine's own
network is neither disturbed nor reached.

    master, slave = two_programs(h)
    game = NetGame(master, slave)
    game.start()
    game.play([(0, 0), (0, 1), ...])
    game.win((4, 0), ((0, 0), (4, 0)))
"""

import contextlib
import os
import socket
import struct
import subprocess
import sys

from harness import (BOARD_X, BOARD_Y, CELL, MAIN_MENU, MARK, PARK, SCREEN_H, SCREEN_W,
                     STATUS_GREY, SUB_MENU, WAIT, WHITE, WIN_TEXT, Failure, cell_centre, cell_mark,
                     check, poll)

MASTER_PORT, SLAVE_PORT = 31211, 31212
LOOPBACK = "127.0.0.1"

ORANGE = (255, 127, 0)  # prompts and notices
REMOTE_GREEN = (127, 192, 127)
# The prompts' top-left corner: centred in 600 pixels on the middle of the screen.
PROMPT_X, PROMPT_Y = 100, 292
NOTICE_Y = SCREEN_H // 2 - 4
ADDRESS_PROMPT, NICK_PROMPT = "Master's address: ", "Your nick: "
WAITING = "Waiting for connection"
LOCAL_TURN = ("Local player turns", SCREEN_W - 200, STATUS_GREY)
REMOTE_TURN = ("Waiting for remote player turn", SCREEN_W - 300, REMOTE_GREEN)

# The peer message types on the wire: a type byte, a 32-bit length in network order, the body.
NICK_MESSAGE = 0
RECEIVED_BOARD = "Listener: recieved message: type 1 size: 256"


# ---- Programs ----


def net_display(h):
    """A display for one of the two programs."""
    return h.display()


def wait_for_free_ports(timeout=WAIT):
    """The game's ports must be free when a test begins: a program of another test still
    listening on one would make this test fail for no fault of the game."""
    for _ in poll(timeout, f"the ports {MASTER_PORT} and {SLAVE_PORT} to be free"):
        if all(port_free(port) for port in (MASTER_PORT, SLAVE_PORT)):
            return


def port_free(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        # As the game binds: connections of earlier games in TIME_WAIT do not count.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind((LOOPBACK, port))
        except OSError:
            return False
        return True


def net_programs(h, count=2):
    """`count` programs, each on a display of its own, all in their main menus."""
    programs = [h.program(net_display(h)) for _ in range(count)]
    for program in programs:
        program.wait_for_menu()
    return programs


def two_programs(h):
    """The two programs of a network game."""
    return net_programs(h, 2)


# ---- Output ----


def count_lines(program, line, stream="stdout"):
    return program.lines(stream).count(line)


def new_lines(program, before, stream="stdout"):
    """The lines written since `before` (a copy of program.lines(stream))."""
    return program.lines(stream)[len(before):]


# ---- Screens ----


def notice_shown(program, img, text):
    """A notice (or the waiting text) centred on the screen in orange."""
    width = program.harness.text_mask(text)[0]
    return program.text_shown(img, SCREEN_W // 2 - width // 2, NOTICE_Y, text, ORANGE)


def turn_shown(program, img, turn):
    """`turn` is LOCAL_TURN or REMOTE_TURN: its text in its place, and the grid drawn."""
    text, x, colour = turn
    return program.text_shown(img, x, 200, text, colour) and img.pixel(BOARD_X, BOARD_Y) == WHITE


def wait_parked(program, condition, what):
    """Parks the pointer off the grid and waits for a redrawn screen that shows it there and
    satisfies condition(img). The pointer is moved there again now and then (see
    Program.wait_for_screen)."""
    return program.wait_for_screen(
        lambda img: program.pointer_drawn_at(img, *PARK) and condition(img), what, pointer=PARK)


def wait_for_turn(program, turn, what):
    return wait_parked(program, lambda img: turn_shown(program, img, turn), what)


def wait_for_notice(program, text, what=None):
    """Waits for a notice drawn once (a connection error): the pointer stays where it was."""
    return program.wait_for_screen(lambda img: notice_shown(program, img, text),
                                   what or f"the notice {text!r}")


def expect_notice(program, text):
    """A connection error's notice: shown, kept until a key, then the main menu."""
    wait_for_notice(program, text)
    program.expect_steady(lambda img: notice_shown(program, img, text), f"the notice {text!r}")
    dismiss(program, f"the main menu after the notice {text!r}")


def wait_for_waiting(program):
    return wait_parked(program, lambda img: notice_shown(program, img, WAITING),
                       f"{WAITING!r}")


def board_marks(img, exclude=()):
    """{(c, r): mark} of every cell of the board in `img` but those in `exclude`."""
    return {(c, r): cell_mark(img, c, r) for c in range(16) for r in range(16)
            if (c, r) not in exclude}


def expected_marks(moves, exclude=()):
    """The marks the board must show after `moves`, player one's first."""
    marks = {(c, r): "empty" for c in range(16) for r in range(16) if (c, r) not in exclude}
    for i, cell in enumerate(moves):
        if cell not in exclude:
            marks[cell] = MARK[1 + i % 2]
    return marks


def check_board(img, moves, who, exclude=()):
    shown, wanted = board_marks(img, exclude), expected_marks(moves, exclude)
    wrong = {cell: shown[cell] for cell in wanted if shown[cell] != wanted[cell]}
    check(not wrong, f"{who}'s board after {moves}: wrong cells {wrong}")


# ---- Menus and prompts ----


def open_network_menu(program):
    program.choose("mi_net.tga")
    program.wait_for_menu(SUB_MENU, "the network sub-menu")


def answer(program, prompt, text, enter="Return"):
    """Waits for the prompt alone on the screen, types `text` and presses Enter (or `enter`)."""
    program.wait_for_screen(
        lambda img: program.text_shown(img, PROMPT_X, PROMPT_Y, prompt, ORANGE),
        f"the prompt {prompt!r}")
    if text:
        program.type_text(text)
    program.key(enter)


def host(program, nick="anna", enter="Return"):
    """From the main menu to a master's set-up: the master is asked its nick only."""
    open_network_menu(program)
    program.choose("net_master.tga", SUB_MENU)
    answer(program, NICK_PROMPT, nick, enter)


def join(program, address=LOOPBACK, nick="bert"):
    """From the main menu to a slave's set-up: the address first, then the nick."""
    open_network_menu(program)
    program.choose("net_slave.tga", SUB_MENU)
    answer(program, ADDRESS_PROMPT, address)
    answer(program, NICK_PROMPT, nick)


def leave(program):
    """Exit in the main menu: the program ends with status 0. The button is held until then
    (and no screenshot taken meanwhile): the window goes away with the program."""
    x, y = MAIN_MENU["mi_exit.tga"]
    picture = program.harness.picture("mi_exit.tga")
    program.move(x + picture.width // 2, y + picture.height // 2)
    program.press()
    try:
        status = program.wait_for_exit()
    finally:
        program.release()
    check(status == 0, f"exit status {status}, not 0")


def dismiss(program, what="the main menu after a key"):
    """A key on a screen that waits for one (an end screen, a notice) brings the main menu."""
    program.move_blind(*PARK)
    program.key("space")
    program.wait_for_menu(MAIN_MENU, what)


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

    def to_move(self):
        """The player (1 or 2) whose turn it is."""
        return 1 + len(self.moves) % 2

    def start(self, master_nick="anna", slave_nick="bert"):
        host(self.master, master_nick)
        wait_for_waiting(self.master)
        join(self.slave, LOOPBACK, slave_nick)
        self.wait_for_turns()

    def wait_for_turns(self):
        """Both screens show the turn of the player to move, with the board so far."""
        mover = self.to_move()
        for player, program in self.sides.items():
            turn = LOCAL_TURN if player == mover else REMOTE_TURN
            img = wait_for_turn(program, turn, f"{turn[0]!r} on player {player}'s screen after "
                                f"{len(self.moves)} moves")
            check_board(img, self.moves, f"player {player}")

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
        mover = self.to_move()
        for p, other in self.sides.items():
            turn = LOCAL_TURN if p == mover else REMOTE_TURN
            img = wait_for_turn(other, turn, f"{turn[0]!r} after an ignored click")
            check_board(img, self.moves, f"player {p} after an ignored click at {cell}")
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

        img = wait_parked(peer, lambda shot: peer.end_screen_shown(shot, 0),
                          "'Game interrupted' on the peer of the side that pressed Escape")
        peer.check_end_screen(img, None)
        check_board(img, self.moves, "the peer after Escape")
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

        img = won.wait_for_end_screen(winner)
        won.check_end_screen(img, line)
        # The red line crosses its cells, and the pointer stays drawn where it clicked.
        check_board(img, self.moves, "the winner",
                    exclude=line_cells(line) | pointer_cells(won))

        img = wait_parked(lost, lambda shot: lost.end_screen_shown(shot, winner),
                          f"the end screen with {WIN_TEXT[winner]!r} on the losing side")
        lost.check_end_screen(img, line)
        check_board(img, self.moves, "the losing side", exclude=line_cells(line))

        # Both end screens wait for their key.
        for program in (won, lost):
            program.expect_steady(lambda shot, p=program: p.end_screen_shown(shot, winner),
                                  "the end screen")
        dismiss(won)
        dismiss(lost)


def pointer_cells(program):
    """The cells that the pointer, where the test last put it, may cover."""
    x, y = program.pointer_at
    w, h = program.harness.pointer_size
    return {((i - BOARD_X) // CELL, (j - BOARD_Y) // CELL)
            for i in range(x, x + w) for j in range(y, y + h)}


def line_cells(line):
    """The cells from one end cell to the other (straight or 45 degrees)."""
    (c0, r0), (c1, r1) = line
    n = max(abs(c1 - c0), abs(r1 - r0))
    dc, dr = (c1 > c0) - (c1 < c0), (r1 > r0) - (r1 < r0)
    return {(c0 + dc * i, r0 + dr * i) for i in range(n + 1)}


# ---- Sockets of the test itself ----


@contextlib.contextmanager
def port_taken(port):
    """Holds `port` on loopback with a listening socket of the test's own."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        # Connections of earlier games in TIME_WAIT must not keep the test from listening; a
        # listening socket still keeps everyone else from binding the port.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((LOOPBACK, port))
        s.listen(1)
        yield s
    finally:
        s.close()


def recv_exactly(conn, size, timeout=WAIT):
    conn.settimeout(timeout)
    data = b""
    while len(data) < size:
        chunk = conn.recv(size - len(data))
        check(chunk, f"the connection closed after {len(data)} of {size} bytes")
        data += chunk
    return data


def read_message(conn):
    """One peer message: (type, body)."""
    kind, length = struct.unpack(">BI", recv_exactly(conn, 5))
    check(length < 4096, f"a message of {length} bytes")
    return kind, recv_exactly(conn, length)


def wait_closed(conn, what, timeout=WAIT):
    """Waits until the peer has closed `conn` (nothing more may come on it)."""
    conn.settimeout(timeout)
    try:
        rest = conn.recv(4096)
    except socket.timeout as e:
        raise Failure(f"{what} stayed open for {timeout:g} s") from e
    except ConnectionResetError:
        return
    check(rest == b"", f"{what} sent {rest!r} instead of closing")
