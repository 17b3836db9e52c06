"""A scripted peer that plays the other side of a network game against the real program.

The peer speaks the wire format itself over loopback sockets: a message is a type byte, the
payload's length as 4 bytes in network byte order, then the payload (a nick, the 256 cells of the
board, or "bye"). Every byte the program sends is read through one place and checked against what
the protocol and the game so far say it must be; every read, accept and connect has a deadline that
fails the test. The peer can also send what a broken or hostile peer would.

The second half drives the program's side through the window harness (harness.py): the network
sub-menu, its prompts, its turns and end screens, and what the program writes.

    log = Transcript(game)
    with Peer("master") as peer:             # the program is the slave
        begin(game, peer, log, nick="bob")   # menus, prompts, both connections, both nicks
        peer_moves(game, peer, 7, 7)         # the peer moves first, as player one
        program_moves(game, peer, 8, 8)      # a click; the peer checks the board that comes
        peer.interrupt()
        ends_interrupted(game, peer, log, out=["Remote interrupt"],
                         err=["Listener: Remote interrupt recieved"])
"""

import socket
import struct
import time

from harness import (BOARD_X, BOARD_Y, CELL, CELLS, MAIN_MENU, PARK, SCREEN_H, SCREEN_W,
                     STATUS_GREY, SUB_MENU, WAIT, WHITE, cell_centre, cell_mark, check)

MASTER_PORT = 31211
SLAVE_PORT = 31212
LOOPBACK = "127.0.0.1"

NICK, DATA, INTERRUPT = 0, 1, 2
BOARD_SIZE = CELLS * CELLS
BYE = b"bye"
MASTER_NICK = "Master"
# A nick longer than this is not believable; the program never sends one (its prompt is narrower).
MAX_NICK = 4096
HEADER = struct.Struct(">BI")


class ProtocolError(AssertionError):
    """What the program sent (or did not send) breaks the protocol or the game."""


def message(kind, payload, length=None):
    """The bytes of one message; `length` overrides the true payload length (to lie with)."""
    return HEADER.pack(kind, len(payload) if length is None else length) + bytes(payload)


def nick_message(nick):
    return message(NICK, nick.encode("latin-1"))


def data_message(cells):
    return message(DATA, cells)


BYE_MESSAGE = message(INTERRUPT, BYE)


class Board:
    """The 16 x 16 cells as the wire carries them: row by row, one player number a byte."""

    def __init__(self, cells=None):
        self.cells = bytearray(BOARD_SIZE if cells is None else cells)
        check(len(self.cells) == BOARD_SIZE, "a board of the wrong size")

    def copy(self):
        return Board(self.cells)

    def at(self, c, r):
        return self.cells[r * CELLS + c]

    def put(self, c, r, value):
        """Sets a cell whatever it holds (for boards a hostile peer makes)."""
        self.cells[r * CELLS + c] = value
        return self

    def mark(self, c, r, player):
        """Places a mark by the rules: the cell must be empty."""
        check(self.at(c, r) == 0, f"cell ({c}, {r}) is taken")
        return self.put(c, r, player)

    def differences(self, other):
        return [(i % CELLS, i // CELLS, mine, theirs)
                for i, (mine, theirs) in enumerate(zip(self.cells, other.cells))
                if mine != theirs]


class Peer:
    """One side of a network game over loopback: "master" (the program is the slave) or
    "slave" (the program is the master). The program writes on `inbound`, the connection it
    opened to the peer's port; the peer writes on `outbound`, the one it opened to the
    program's port. Use it in a `with` block so that its sockets are closed whatever happens.
    The peer listens on, and connects from, `address` (any of loopback's 127.0.0.0/8)."""

    def __init__(self, role, timeout=WAIT, address=LOOPBACK):
        check(role in ("master", "slave"), f"no such role {role!r}")
        self.role, self.timeout, self.address = role, timeout, address
        self.player = 1 if role == "master" else 2
        self.program_player = 3 - self.player
        self.own_port = MASTER_PORT if role == "master" else SLAVE_PORT
        self.program_port = SLAVE_PORT if role == "master" else MASTER_PORT
        self.server = self.inbound = self.outbound = None
        self.board = Board()
        self.dropped = False  # the program has closed the connection the peer writes on

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    # -- connections --

    def listen(self):
        """Listens on the peer's port (loopback only), ready for the program's connection."""
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            self.server.bind((self.address, self.own_port))
        except OSError as e:
            raise ProtocolError(f"the peer cannot listen on {self.own_port} ({e}): is another "
                                "game or test using the port?") from e
        self.server.listen(1)

    def accept(self):
        """Takes the program's connection to the peer's port: the one it writes on."""
        self.server.settimeout(self.timeout)
        try:
            self.inbound, address = self.server.accept()
        except socket.timeout as e:
            raise ProtocolError(f"the program did not connect to port {self.own_port} within "
                                f"{self.timeout:g} s") from e
        self.inbound.settimeout(self.timeout)
        self.server.close()
        self.server = None
        return address

    def connect(self, host=LOOPBACK):
        """Opens the connection to the program's port: the one the peer writes on."""
        self.outbound = connect_to(host, self.program_port, self.timeout, self.address)

    def close(self):
        for s in (self.server, self.inbound, self.outbound):
            if s is not None:
                s.close()
        self.server = self.inbound = self.outbound = None

    # -- set-up, as the real master and slave do it --

    def take_slave(self, nick):
        """As master: accepts the program's connection, checks its nick message, connects back
        to the address it came from and sends the nick "Master"."""
        check(self.role == "master", "only a master takes a slave")
        address = self.accept()
        self.expect_nick(nick)
        check(address[0] == LOOPBACK, f"the slave came from {address[0]}, not {LOOPBACK}")
        self.connect(address[0])
        self.send(nick_message(MASTER_NICK))

    def join_master(self, nick):
        """As slave: listening already, connects to the program, sends `nick`, accepts the
        connection back and checks that its nick message is "Master"."""
        check(self.role == "slave", "only a slave joins a master")
        self.connect()
        self.send(nick_message(nick))
        self.accept()
        self.expect_nick(MASTER_NICK)

    # -- sending --

    def hang_up(self):
        """Closes the connection the peer writes on, as a peer that leaves would."""
        self.outbound.close()
        self.outbound = None

    def send(self, data):
        self.outbound.sendall(data)

    def play(self, c, r):
        """The peer's move: its mark in cell (c, r), the whole board sent."""
        self.board.mark(c, r, self.player)
        self.send(data_message(self.board.cells))

    def interrupt(self):
        self.send(BYE_MESSAGE)

    # -- receiving: every byte the program sends is checked here --

    def read(self, count, what):
        """Exactly `count` bytes of the connection the program writes on, before the deadline."""
        data = bytearray()
        end = time.monotonic() + self.timeout
        while len(data) < count:
            left = end - time.monotonic()
            if left <= 0:
                raise ProtocolError(f"{len(data)} of the {count} bytes of {what} came within "
                                    f"{self.timeout:g} s")
            self.inbound.settimeout(left)
            try:
                chunk = self.inbound.recv(count - len(data))
            except socket.timeout:
                continue
            except ConnectionResetError as e:
                raise ProtocolError(f"the program reset the connection in {what}") from e
            if not chunk:
                raise ProtocolError(f"the program closed the connection after {len(data)} of "
                                    f"the {count} bytes of {what}")
            data += chunk
        return bytes(data)

    def read_message(self):
        """One whole message; its header and payload must be one of the protocol's three."""
        kind, length = HEADER.unpack(self.read(HEADER.size, "a message header"))
        if kind == NICK:
            check_protocol(length <= MAX_NICK, f"a nick message of {length} bytes")
        elif kind == DATA:
            check_protocol(length == BOARD_SIZE,
                           f"a data message of {length} bytes, not {BOARD_SIZE}")
        elif kind == INTERRUPT:
            check_protocol(length == len(BYE), f"an interrupt message of {length} bytes, not 3")
        else:
            raise ProtocolError(f"a message of the unknown type {kind} (length {length})")
        payload = self.read(length, f"the payload of a type {kind} message")
        if kind == DATA:
            bad = [(i % CELLS, i // CELLS, v) for i, v in enumerate(payload) if v > 2]
            check_protocol(not bad, f"cells that hold no player number: {bad[:5]}")
        if kind == INTERRUPT:
            check_protocol(payload == BYE, f"the interrupt payload {payload!r}, not b'bye'")
        return kind, payload

    def expect(self, kind, what):
        got, payload = self.read_message()
        names = {NICK: "a nick message", DATA: "a data message", INTERRUPT: "an interrupt"}
        check_protocol(got == kind, f"{names[got]} ({payload!r}) came instead of {what}")
        return payload

    def expect_nick(self, nick):
        payload = self.expect(NICK, f"the nick message {nick!r}")
        check_protocol(payload == nick.encode("latin-1"),
                       f"the nick {payload!r} came instead of {nick!r}")

    def expect_board(self, want, what):
        got = Board(self.expect(DATA, what))
        wrong = got.differences(want)
        check_protocol(not wrong, f"{what}: the board differs in (column, row, got, want) "
                       f"{wrong[:8]}")

    def expect_move(self, c, r):
        """The program's move: the last board plus the program's mark in (c, r), nothing else."""
        self.board.mark(c, r, self.program_player)
        self.expect_board(self.board, f"the program's move to ({c}, {r})")

    def expect_interrupt(self):
        self.expect(INTERRUPT, "an interrupt message")

    def expect_end(self):
        """The program closes the connection it writes on, with nothing more sent."""
        end = time.monotonic() + self.timeout
        while True:
            left = end - time.monotonic()
            if left <= 0:
                raise ProtocolError(f"the program did not close its connection within "
                                    f"{self.timeout:g} s")
            self.inbound.settimeout(left)
            try:
                extra = self.inbound.recv(64)
            except socket.timeout:
                continue
            check_protocol(not extra, f"{extra!r} after the game's last message")
            return

    def expect_dropped(self):
        """The program has closed the connection the peer writes on (it refused what came, or
        the game is over on its side); it never writes there. A reset counts as closed: unread
        bytes of a refused message make the system reset rather than close."""
        end = time.monotonic() + self.timeout
        while not self.dropped:
            left = end - time.monotonic()
            if left <= 0:
                raise ProtocolError(f"the program kept the peer's connection open for "
                                    f"{self.timeout:g} s")
            self.outbound.settimeout(left)
            try:
                extra = self.outbound.recv(64)
            except socket.timeout:
                continue
            except ConnectionResetError:
                extra = b""
            check_protocol(not extra, f"the program wrote {extra!r} on the peer's connection")
            self.dropped = True


def check_protocol(condition, message_text):
    if not condition:
        raise ProtocolError(message_text)


def connect_to(host, port, timeout, source=LOOPBACK):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    try:
        s.bind((source, 0))
        s.connect((host, port))
    except OSError as e:
        s.close()
        raise ProtocolError(f"cannot connect to {host}:{port} ({e})") from e
    return s


# ---- The program's side ----

ORANGE = (255, 127, 0)  # prompts and notices
WAITING_GREEN = (127, 192, 127)
# Prompts stand left of the field, in the middle of the screen.
PROMPT_AT = (SCREEN_W // 2 - (SCREEN_W - 200) // 2, SCREEN_H // 2 - 8)
ADDRESS_PROMPT = "Master's address: "
NICK_PROMPT = "Your nick: "
WAITING = "Waiting for connection"

# Lines on standard error that tell how a game ended or what the program refused: the tests
# compare their whole sequence with what each case should have written.
NOTABLE = ("Error: ", "Listener: connection closed by peer", "Listener: wrong message! ",
           "Listener: Remote interrupt recieved", "NetworkGame::localPlayer interrupt")


def notable_lines(game):
    return [line for line in game.lines("stderr") if line.startswith(NOTABLE)]


def notice_shown(game, img, text):
    """A centred notice (the "Waiting for connection" text, a connection error) on black."""
    width, _ = game.harness.text_mask(text)
    return game.text_shown(img, SCREEN_W // 2 - width // 2, SCREEN_H // 2 - 4, text, ORANGE)


def wait_for_notice(game, text):
    return game.wait_for_screen(lambda img: notice_shown(game, img, text), f"the notice {text!r}")


def answer(game, prompt, text):
    """Waits for the empty prompt, types `text` and Enter."""
    game.wait_for_screen(lambda img: game.text_shown(img, *PROMPT_AT, prompt, ORANGE),
                         f"the prompt {prompt!r}")
    if text:
        game.type_text(text)
    game.key("Return")


def open_network_menu(game, side):
    """From the main menu to the prompts of `side` ("net_slave.tga" or "net_master.tga")."""
    game.choose("mi_net.tga")
    game.wait_for_menu(SUB_MENU, "the network sub-menu")
    game.choose(side, SUB_MENU)


def start_as_master(game, nick="h5"):
    """The program becomes the master and waits for a slave on its port."""
    open_network_menu(game, "net_master.tga")
    answer(game, NICK_PROMPT, nick)
    game.move_blind(*PARK)
    wait_for_notice(game, WAITING)


def start_as_slave(game, nick, address=LOOPBACK):
    """The program becomes the slave of the master at `address`; returns once the nick prompt has
    taken its Enter (the program then connects, and the peer takes it, or does something else)."""
    open_network_menu(game, "net_slave.tga")
    answer(game, ADDRESS_PROMPT, address)
    answer(game, NICK_PROMPT, nick)


def board_shown(img, board, hidden=()):
    """Every cell shows what `board` holds, apart from the cells `hidden` (under a red line)."""
    return all(cell_mark(img, c, r) == {0: "empty", 1: "circle", 2: "cross"}[board.at(c, r)]
               for r in range(CELLS) for c in range(CELLS) if (c, r) not in hidden)


def local_turn_shown(game, img):
    return game.text_shown(img, SCREEN_W - 200, 200, "Local player turns", STATUS_GREY)


def remote_turn_shown(game, img):
    return game.text_shown(img, SCREEN_W - 300, 200, "Waiting for remote player turn",
                           WAITING_GREEN)


def wait_for_turn(game, board, local):
    """The program's local (or remote) turn showing exactly `board`, the pointer parked."""
    turn = local_turn_shown if local else remote_turn_shown
    game.move_blind(*PARK)
    return game.wait_for_screen(
        lambda img: turn(game, img) and game.pointer_drawn_at(img, *PARK)
        and img.pixel(BOARD_X, BOARD_Y) == WHITE and board_shown(img, board),
        f"the {'local' if local else 'remote'} turn with the board {board.differences(Board())}")


def peer_moves(game, peer, c, r):
    """The peer plays (c, r); the program shows it in its local turn."""
    peer.play(c, r)
    return wait_for_turn(game, peer.board, local=True)


def program_moves(game, peer, c, r, last=False):
    """The program's user clicks (c, r); the peer checks the board that comes. Unless it is the
    game's last move, the program then shows its remote turn."""
    game.click(*cell_centre(c, r))
    peer.expect_move(c, r)
    if not last:
        wait_for_turn(game, peer.board, local=False)


def wait_for_end(game, board, result, line=None):
    """The end screen with `result` (0: "Game interrupted") over exactly `board`. A win's red
    line runs through the cells of `line` (its two end cells), which check_end_screen checks
    instead; the screen is drawn once, so the pointer stays where the test last put it and the
    cells it covers are left out."""
    hidden = set(line_cells(*line)) if line else set()
    hidden |= cells_under_pointer(game)
    img = game.wait_for_screen(
        lambda img: game.end_screen_shown(img, result) and board_shown(img, board, hidden),
        f"the end screen with result {result} over the board {board.differences(Board())}")
    game.check_end_screen(img, line)
    for c, r in set(line_cells(*line)) if line else ():
        check(board.at(c, r) == result, f"cell ({c}, {r}) of the winning line is not the "
              "winner's")
    return img


def cells_under_pointer(game):
    px, py = game.pointer_at
    cells = set()
    for dx, dy in game.harness.pointer_pixels:
        x, y = px + dx - BOARD_X, py + dy - BOARD_Y
        if x % CELL and y % CELL and 0 <= x < CELLS * CELL and 0 <= y < CELLS * CELL:
            cells.add((x // CELL, y // CELL))
    return cells


def line_cells(a, b):
    (c0, r0), (c1, r1) = a, b
    n = max(abs(c1 - c0), abs(r1 - r0))
    dc, dr = (c1 > c0) - (c1 < c0), (r1 > r0) - (r1 < r0)
    return [(c0 + dc * t, r0 + dr * t) for t in range(n + 1)]


def leave_end_screen(game, peer):
    """A key takes the program from its end screen (or a connection notice) to the main menu.
    By then the program has closed both of its connections with the peer, with nothing more
    sent on the one it writes on and nothing ever on the other."""
    game.key("space")
    game.wait_for_menu(what="the main menu after the game")
    if peer.inbound is not None:
        peer.expect_end()
    if peer.outbound is not None:
        peer.expect_dropped()


class Transcript:
    """What the program must have written so far: its whole standard output, and the notable
    lines (NOTABLE) of its standard error, in order."""

    def __init__(self, game):
        self.game = game
        self.out = ["Initing net"]
        self.err = []

    def expect(self, out=(), err=()):
        self.out += out
        self.err += err

    def check(self, timeout=WAIT):
        """Waits (bounded) for the program's output to be exactly what is expected so far."""
        end = time.monotonic() + timeout
        while True:
            out, err = self.game.lines(), notable_lines(self.game)
            if out == self.out and err == self.err:
                return
            check(time.monotonic() < end and out == self.out[:len(out)]
                  and err == self.err[:len(err)],
                  f"standard output {out}, expected {self.out}; notable standard error {err}, "
                  f"expected {self.err}")
            time.sleep(0.02)


def begin(game, peer, log, nick="h5"):
    """From the main menu to the first turn of a network game against `peer`, which must be
    fresh: the program is the slave of a master peer, or the master of a slave peer."""
    peer.listen()
    if peer.role == "master":
        start_as_slave(game, nick)
        peer.take_slave(nick)
    else:
        start_as_master(game)
        peer.join_master(nick)
    log.expect(out=["Choice: 1"])
    wait_for_turn(game, peer.board, local=peer.role == "slave")


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
        game.key("space")
        game.wait_for_menu(what="the main menu after the game")
    log.expect(out)
    log.check()
    peer.expect_end()
    peer.expect_dropped()


def leave(game, log):
    """Exit from the main menu: status 0 and the whole output as expected. The button is held
    until the program has ended, so that its press cannot be missed; it is never released, as
    the display goes with the test."""
    x, y = MAIN_MENU["mi_exit.tga"]
    picture = game.harness.picture("mi_exit.tga")
    game.move(x + picture.width // 2, y + picture.height // 2)
    game.press()
    status = game.wait_for_exit()
    check(status == 0, f"exit status {status}, not 0")
    log.expect(out=["Choice: 2", "End", "system done"])
    log.check()
