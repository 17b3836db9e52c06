"""Network play for the window tests (see harness.py for the displays, programs and screens): a
scripted peer that plays the other side against the real program, the steps that drive a program
through the network sub-menu, its prompts, turns and end screens, and whole games between two
real programs.

Every window test runs in a private network namespace of its own (harness.private_network), so
the game's fixed ports are the test's alone: a game hosted on this machine's own network is
neither disturbed nor reached.

The scripted peer speaks the wire format itself over loopback sockets: a message is a type byte,
the payload's length as 4 bytes in network byte order, then the payload (a nick, the 256 cells of
the board, or "bye"). Every byte the program sends is read through one place and checked against
what the protocol and the game so far say it must be; every read, accept and connect has a
deadline that fails the test. The peer can also send what a broken or hostile peer would.

    log = Transcript(game)
    with Peer("master") as peer:             # the program is the slave
        begin(game, peer, log, nick="bob")   # menus, prompts, both connections, both nicks
        peer_moves(game, peer, 7, 7)         # the peer moves first, as player one
        program_moves(game, peer, 8, 8)      # a click; the peer checks the board that comes
        peer.interrupt()
        ends_interrupted(game, peer, log, out=["Remote interrupt"],
                         err=["Listener: Remote interrupt recieved"])

Two programs, each on its own display:

    master, slave = two_programs(h)
    game = NetGame(master, slave)
    game.start()
    game.play([(0, 0), (0, 1), ...])
    game.win((4, 0), ((0, 0), (4, 0)))
"""

import contextlib
import socket
import struct
import subprocess
import time

from harness import (BOARD_X, BOARD_Y, CELL, CELLS, LAYOUT, MAIN_MENU, MARK, PARK, SCREEN_H,
                     SCREEN_W, STATUS_GREY, SUB_MENU, TURN_Y, WAIT, WHITE, WIN_TEXT, cell_centre,
                     cell_mark, check, poll, straight_line)

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


# ---- Programs and what they write ----

# Lines on standard error that tell how a game ended or what the program refused: the scripted
# peer's tests compare their whole sequence with what each case should have written.
NOTABLE = ("Error: ", "Listener: connection closed by peer", "Listener: wrong message! ",
           "Listener: Remote interrupt recieved", "NetworkGame::localPlayer interrupt")
RECEIVED_BOARD = "Listener: recieved message: type 1 size: 256"
ACCEPTED = "Listner: accepted socket from 127.0.0.1"


def net_programs(h, count=2):
    """`count` programs, each on a display of its own, all in their main menus."""
    programs = [h.program(h.display()) for _ in range(count)]
    for program in programs:
        program.wait_for_menu()
    return programs


def two_programs(h):
    """The two programs of a network game."""
    return net_programs(h, 2)


def count_lines(program, line, stream="stdout"):
    return program.lines(stream).count(line)


def new_lines(program, before, stream="stdout"):
    """The lines written since `before` (a copy of program.lines(stream))."""
    return program.lines(stream)[len(before):]


def notable_lines(program):
    return [line for line in program.lines("stderr") if line.startswith(NOTABLE)]


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


def one_program(h):
    """A program in its main menu, and the Transcript of what it writes."""
    (game,) = net_programs(h, 1)
    return game, Transcript(game)


# ---- Screens ----

ORANGE = LAYOUT["PromptOrange"]  # prompts and notices
# The prompts' top-left corner: centred on the middle of the screen.
PROMPT_AT = (SCREEN_W // 2 - (SCREEN_W - LAYOUT["PromptMargin"]) // 2,
             SCREEN_H // 2 - LAYOUT["PromptHalfHeight"])
NOTICE_Y = SCREEN_H // 2 - LAYOUT["NoticeHalfHeight"]
ADDRESS_PROMPT, NICK_PROMPT = "Master's address: ", "Your nick: "
WAITING = "Waiting for connection"
# A network turn's text, its left edge and its colour.
LOCAL_TURN = ("Local player turns", SCREEN_W - LAYOUT["StatusRight"], STATUS_GREY)
REMOTE_TURN = ("Waiting for remote player turn", SCREEN_W - LAYOUT["WaitingRight"],
               LAYOUT["RemoteGreen"])
MARKS = {0: "empty", **MARK}


def notice_shown(program, img, text):
    """A notice (or the waiting text) centred on the screen in orange."""
    width = program.harness.text_mask(text)[0]
    return program.text_shown(img, SCREEN_W // 2 - width // 2, NOTICE_Y, text, ORANGE)


def turn_shown(program, img, turn):
    """`turn` is LOCAL_TURN or REMOTE_TURN: its text in its place, and the grid drawn."""
    text, x, colour = turn
    return (program.text_shown(img, x, TURN_Y, text, colour)
            and img.pixel(BOARD_X, BOARD_Y) == WHITE)


def wait_parked(program, condition, what):
    """Parks the pointer off the grid and waits for a redrawn screen that shows it there and
    satisfies condition(img). The pointer is moved there again now and then (see
    Program.wait_for_screen)."""
    return program.wait_for_screen(
        lambda img: program.pointer_drawn_at(img, *PARK) and condition(img), what, pointer=PARK)


def wait_for_turn(program, turn, board, what):
    """`turn` (LOCAL_TURN or REMOTE_TURN) on the screen of `program`, the pointer parked, and
    exactly `board` (a Board) on the grid; returns the screen."""
    img = wait_parked(program, lambda img: turn_shown(program, img, turn), what)
    check_board(img, board, what)
    return img


def wait_for_notice(program, text, what=None):
    """Waits for a notice drawn once (a connection error): the pointer stays where it was."""
    return program.wait_for_screen(lambda img: notice_shown(program, img, text),
                                   what or f"the notice {text!r}")


def expect_notice(program, text):
    """A connection error's notice: shown, kept until a key, then the main menu."""
    wait_for_notice(program, text)
    program.expect_steady(lambda img: notice_shown(program, img, text), f"the notice {text!r}")
    dismiss(program, f"the main menu after the notice {text!r}")


def unanswered(address):
    """Connects to `address`'s master port vanish from now on, as to a switched-off machine
    (nftables, in the test's private network namespace)."""
    subprocess.run(["nft", "-f", "-"], check=True, text=True,
                   input="table ip unanswered {\nchain in {\ntype filter hook input priority 0\n"
                         f"ip daddr {address} tcp dport {MASTER_PORT} drop\n}}\n}}\n")


def wait_for_waiting(program):
    return wait_parked(program, lambda img: notice_shown(program, img, WAITING), repr(WAITING))


def check_board(img, board, what, hidden=()):
    """Every cell of the grid in `img` shows what `board` holds, but those in `hidden`."""
    wrong = {(c, r): cell_mark(img, c, r) for c in range(CELLS) for r in range(CELLS)
             if (c, r) not in hidden and cell_mark(img, c, r) != MARKS[board.at(c, r)]}
    check(not wrong, f"{what}: cells shown wrong {wrong}; the board's (column, row, player) are "
          f"{[cell[:3] for cell in board.differences(Board())]}")


def pointer_cells(program):
    """The cells whose inside the pointer may cover where the test put it last (or, right after
    a click, beside it)."""
    cells = set()
    for px, py in program.trail:
        for dx, dy in program.harness.pointer_pixels:
            x, y = px + dx - BOARD_X, py + dy - BOARD_Y
            if x % CELL and y % CELL and 0 <= x < CELLS * CELL and 0 <= y < CELLS * CELL:
                cells.add((x // CELL, y // CELL))
    return cells


def line_cells(line):
    """The cells from one end cell of `line` to the other."""
    return straight_line(*line)


def wait_for_end(program, board, result, line=None):
    """The end screen with `result` (0: "Game interrupted") over exactly `board`, and the red
    line through the cells of `line` (its two end cells, which hold the winner's marks; None: no
    red line). The screen is drawn once, so the pointer stays where the test last put it, and
    the cells it covers are left out, as are those under the line. Returns the screen."""
    img = program.wait_for_screen(lambda img: program.end_screen_shown(img, result),
                                  f"the end screen with {WIN_TEXT[result]!r}")
    program.check_end_screen(img, line)
    cells = line_cells(line) if line else []
    check_board(img, board, f"the board under {WIN_TEXT[result]!r}",
                set(cells) | pointer_cells(program))
    for c, r in cells:
        check(board.at(c, r) == result, f"cell ({c}, {r}) of the winning line is not the "
              "winner's")
    return img


# ---- Menus, prompts and ends ----


def open_network_menu(program, side):
    """From the main menu to the prompts of `side` ("net_slave.tga" or "net_master.tga")."""
    program.choose("mi_net.tga")
    program.wait_for_menu(SUB_MENU, "the network sub-menu")
    program.choose(side, SUB_MENU)


def answer(program, prompt, text, enter="Return"):
    """Waits for the prompt alone on the screen, types `text` and presses Enter (or `enter`)."""
    program.wait_for_screen(lambda img: program.text_shown(img, *PROMPT_AT, prompt, ORANGE),
                            f"the prompt {prompt!r}")
    if text:
        program.type_text(text)
    program.key(enter)


def host(program, nick="anna", enter="Return", waiting=True):
    """From the main menu to a master's set-up (the master is asked its nick only); with
    `waiting`, until it waits for a slave on its port."""
    open_network_menu(program, "net_master.tga")
    answer(program, NICK_PROMPT, nick, enter)
    if waiting:
        wait_for_waiting(program)


def join(program, address=LOOPBACK, nick="bert"):
    """From the main menu to a slave's set-up: the address first, then the nick. Returns once
    the nick has taken its Enter: the program then connects to `address`."""
    open_network_menu(program, "net_slave.tga")
    answer(program, ADDRESS_PROMPT, address)
    answer(program, NICK_PROMPT, nick)


def dismiss(program, what="the main menu after a key"):
    """A key on a screen that waits for one (an end screen, a notice) brings the main menu."""
    program.move_blind(*PARK)
    program.key("space")
    program.wait_for_menu(MAIN_MENU, what)


def leave(program, log=None):
    """Exit in the main menu: the program ends with status 0 (and with `log`, its Transcript,
    having written all it expects). The button is held until then (and no screenshot taken
    meanwhile): the window goes away with the program."""
    program.move(*program.button_centre("mi_exit.tga"))
    program.press()
    try:
        status = program.wait_for_exit()
    finally:
        program.release()
    check(status == 0, f"exit status {status}, not 0")
    if log is not None:
        log.expect(out=["Choice: 2", "End", "system done"])
        log.check()


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
