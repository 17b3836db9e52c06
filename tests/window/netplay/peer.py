"""The wire, and the scripted peer that plays the other side of a network game."""

import contextlib
import socket
import struct
import time

from harness.checks import WAIT, check, poll
from harness.geometry import CELLS

MASTER_PORT, SLAVE_PORT = 31211, 31212
LOOPBACK = "127.0.0.1"

# ---- The wire ----

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

    @classmethod
    def of_moves(cls, moves):
        """The board after `moves` (cells), player one's first."""
        board = cls()
        for i, (c, r) in enumerate(moves):
            board.mark(c, r, 1 + i % 2)
        return board

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


def listening(address, port):
    """A socket listening on `address`:`port`. Connections of earlier games in TIME_WAIT do not
    keep it from binding, as they do not keep the game; a listening socket still keeps everyone
    else from binding the port."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        s.bind((address, port))
    except OSError as e:
        s.close()
        raise ProtocolError(f"cannot listen on {port} ({e}): is another program using it?") from e
    s.listen(1)
    return s


@contextlib.contextmanager
def port_taken(port):
    """Holds `port` on loopback with a listening socket of the test's own."""
    s = listening(LOOPBACK, port)
    try:
        yield s
    finally:
        s.close()


def port_free(port):
    """Whether the game could bind `port` on loopback now."""
    try:
        listening(LOOPBACK, port).close()
    except ProtocolError:
        return False
    return True


def wait_for_free_ports(timeout=WAIT):
    """The game's ports must be free when a game begins: a program of an earlier game still
    listening on one would make the test fail for no fault of the game."""
    for _ in poll(timeout, f"the ports {MASTER_PORT} and {SLAVE_PORT} to be free"):
        if port_free(MASTER_PORT) and port_free(SLAVE_PORT):
            return


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


def check_protocol(condition, message_text):
    if not condition:
        raise ProtocolError(message_text)


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
        self.server = listening(self.address, self.own_port)

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
        self.expect_closed(self.inbound, "its connection", "after the game's last message",
                           reset_counts=False)

    def expect_dropped(self):
        """The program has closed the connection the peer writes on (it refused what came, or
        the game is over on its side); it never writes there."""
        if not self.dropped:
            self.expect_closed(self.outbound, "the peer's connection", "on the peer's connection",
                               reset_counts=True)
            self.dropped = True

    def expect_closed(self, conn, what, where, reset_counts):
        """The program closes `conn` within the deadline, having sent nothing more on it. Where
        the peer writes, a reset counts as closed: unread bytes of a refused message make the
        system reset rather than close."""
        end = time.monotonic() + self.timeout
        while True:
            left = end - time.monotonic()
            if left <= 0:
                raise ProtocolError(f"the program kept {what} open for {self.timeout:g} s")
            conn.settimeout(left)
            try:
                extra = conn.recv(64)
            except socket.timeout:
                continue
            except ConnectionResetError as e:
                if not reset_counts:
                    raise ProtocolError(f"the program reset {what}") from e
                extra = b""
            check_protocol(not extra, f"the program wrote {extra!r} {where}")
            return
