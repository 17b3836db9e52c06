"""A network game as one program shows and writes it: output, notices, turns, prompts."""

import subprocess
import time

from harness.checks import WAIT, check
from harness.geometry import (BOARD_X, BOARD_Y, CELL, CELLS, LAYOUT, MAIN_MENU, MARK, PARK,
                              SCREEN_H, SCREEN_W, STATUS_GREY, SUB_MENU, TURN_Y, WHITE, WIN_TEXT,
                              cell_mark, straight_line)
from .peer import LOOPBACK, MASTER_PORT, Board

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
    """Parks the pointer off the grid and waits for the arrow there and a screen that satisfies
    condition(img). The pointer is moved there again now and then (see
    Program.wait_for_screen)."""
    return program.wait_for_screen(
        lambda img: program.arrow_shown_at(img, *PARK) and condition(img), what, pointer=PARK)


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
    """The cells whose inside a drawn arrow may cover where the test put the pointer last (or,
    right after a click, beside it)."""
    cells = set()
    for px, py in program.trail if program.draws_arrow else ():
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
