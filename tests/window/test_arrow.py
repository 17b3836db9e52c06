"""The game's arrow follows the pointer on every screen, those drawn once included: the main menu,
the master's address and the nick prompts, a connection error's notice and the end screen of a
hot-seat game. On each, with the pointer off the window there is no arrow (the frame holds none,
and the display's cursor there is not the game's); at each of a few places over the window the
arrow shows there, and nowhere else, within FOLLOW seconds of the move.

cursor: the display takes colour cursors: the arrow is the window's cursor (read back with
XFixesGetCursorImage), the picture with its tip as the hot spot, and no frame holds it.
drawn: the display lacks the extension that colour cursors need (RENDER): the game draws the arrow
into the frames, and the screens drawn once are drawn again where the pointer goes.
scale: on a desktop at 200 % (Xft.dpi: 192) the cursor is the picture at twice its size.

The cursor case then types ahead: the address typed at 5 ms a key, Enter, and 1 to 5 ms later a
letter held down, before the nick prompt has opened; the letter is the nick's first and shows in
the nick field while it is still held, in every one of ROUNDS rounds, then again with two busy
loops loading both cores.
"""

import time

from harness.checks import WAIT, check
from harness.desktop import menu_frame
from harness.geometry import MAIN_MENU, PARK, SCREEN_H, SCREEN_W, WHITE, cell_centre
from harness.runner import main
from netplay.peer import LOOPBACK
from netplay.screens import (ADDRESS_PROMPT, NICK_PROMPT, ORANGE, PROMPT_AT, notice_shown,
                             open_network_menu)
from test_every_event import busy_loops

NAME = "arrow"
# Within how long of a move the arrow must show at its new place: a frozen arrow never does.
FOLLOW = 1.0
# Places over the window the pointer goes to on each screen.
PLACES = ((200, 450), (650, 500), (37, 41), (PARK[0], PARK[1]))
REFUSED = "ClinetSocket: Cannot connect to server - Connection refused"
# A hot-seat game that player one wins along the top row.
MOVES = [(0, 0), (0, 1), (1, 0), (1, 1), (2, 0), (2, 1), (3, 0), (3, 1)]
WINNING = (4, 0)

ROUNDS = 20
LETTER = "n"
# The loopback address in its short form, where no master listens.
SHORT_LOOPBACK = "127.1"

CASES = {
    "cursor": {"cursors": True, "scale": 1, "type_ahead": True},
    "drawn": {"cursors": False, "scale": 1, "type_ahead": False},
    "scale": {"cursors": True, "scale": 2, "type_ahead": False},
}


def follows(game, what, frame=None):
    """On the screen `what`: no arrow with the pointer off the window, and the arrow at each of
    PLACES, and nowhere else, once the pointer is there. `frame` is the screen without an arrow;
    by default the one shown with the pointer off the window. Returns the longest time the arrow
    took to follow."""
    # Where the arrow may have been drawn last: where the test put the pointer, and beside it.
    trail = list(game.trail)
    outside = game.on_screen(SCREEN_W, SCREEN_H)
    game.display.xdotool("mousemove", str(outside[0] + 20), str(outside[1] + 20))
    game.pointer_at = None
    alone = f"{what} without the arrow"
    if frame is None:
        frame = game.wait_for_screen(lambda img: not (game.draws_arrow and any(
            game.arrow_shown_at(img, *place) for place in trail)), alone)
    game.wait_for_screen(lambda img: img.rgb == frame.rgb and not game.cursor_is_arrow(), alone)
    game.expect_steady(lambda img: img.rgb == frame.rgb and not game.cursor_is_arrow(), alone)
    slowest = 0.0
    for place in PLACES:
        want = game.with_arrow(frame, *place)
        moved = time.monotonic()
        game.move_blind(*place)
        game.wait_for_screen(lambda img, p=place, w=want: img.rgb == w.rgb
                             and game.arrow_shown_at(img, *p),
                             f"{what} with the arrow at {place} only", timeout=FOLLOW)
        slowest = max(slowest, time.monotonic() - moved)
    return slowest


def prompt_shown(h, img, prompt):
    """Whether `prompt` is written at the prompts' place in orange, on black, up to its end."""
    width, rows = h.text_mask(prompt)
    want, black = bytes(ORANGE), bytes((0, 0, 0))
    return all(img.row(PROMPT_AT[0], PROMPT_AT[1] + j, width)[3 * i:3 * i + 3]
               == (want if bits[i] == "1" else black)
               for j, bits in enumerate(rows) for i in range(width))


def type_ahead(h, game, delay_ms, what):
    """One round: the nick's first letter typed delay_ms after the address's Enter."""
    open_network_menu(game, "net_slave.tga")
    game.wait_for_screen(lambda img: game.text_shown(img, *PROMPT_AT, ADDRESS_PROMPT, ORANGE),
                         f"the prompt {ADDRESS_PROMPT!r}")
    nick = (PROMPT_AT[0] + h.text_mask(NICK_PROMPT)[0], PROMPT_AT[1])
    # As a fast typist or a tool types: the address, Enter, and the nick's first letter at once.
    game.display.xdotool("type", "--delay", "5", SHORT_LOOPBACK)
    game.display.xdotool("key", "Return", "sleep", f"{delay_ms / 1000:g}", "keydown", LETTER)
    try:
        game.wait_for_screen(lambda img: prompt_shown(h, img, NICK_PROMPT)
                             and game.text_shown(img, *nick, LETTER, WHITE),
                             f"{LETTER!r} held {delay_ms} ms after Enter in the nick field, "
                             f"{what}", timeout=2 * WAIT)
    finally:
        game.display.xdotool("keyup", LETTER)
    game.key("Return", seen=lambda img: notice_shown(game, img, REFUSED), what=repr(REFUSED))
    game.key("space", seen=lambda img: game.menu_shown(img, MAIN_MENU),
             what="the main menu after the notice")


def test(h, case):
    if case["scale"] == 1:
        display = h.display(cursors=case["cursors"])
    else:
        display = h.display((2048, 1536), "Xft.dpi: 192")
    game = h.program(display, scale=case["scale"])
    game.wait_for_menu()
    slowest = {"the main menu": follows(game, "the main menu", menu_frame(h))}

    open_network_menu(game, "net_slave.tga")
    game.wait_for_screen(lambda img: game.text_shown(img, *PROMPT_AT, ADDRESS_PROMPT, ORANGE),
                         f"the prompt {ADDRESS_PROMPT!r}")
    slowest["the address prompt"] = follows(game, "the address prompt")
    game.type_text(LOOPBACK)
    game.key("Return", seen=lambda img: game.text_shown(img, *PROMPT_AT, NICK_PROMPT, ORANGE),
             what=f"the prompt {NICK_PROMPT!r}")
    slowest["the nick prompt"] = follows(game, "the nick prompt")
    game.type_text("bert")
    game.key("Return", seen=lambda img: notice_shown(game, img, REFUSED), what=repr(REFUSED))
    slowest["the connection error"] = follows(game, "the connection error")
    game.key("space", seen=lambda img: game.menu_shown(img, MAIN_MENU),
             what="the main menu after the notice")

    game.choose("mi_local.tga")
    game.wait_for_turn(1)
    for i, cell in enumerate(MOVES):
        game.play(*cell, 1 + i % 2)
    game.click(*cell_centre(*WINNING), seen=lambda img: game.end_screen_shown(img, 1),
               what="the end screen")
    slowest["the end screen"] = follows(game, "the end screen")
    game.key("space", seen=lambda img: game.menu_shown(img, MAIN_MENU),
             what="the main menu after the end screen")
    print(", ".join(f"{screen}: {ms * 1000:.0f} ms" for screen, ms in slowest.items()),
          "at most from a move to the arrow there")

    if case["type_ahead"]:
        for i in range(ROUNDS):
            type_ahead(h, game, 1 + i % 5, f"round {i + 1} of {ROUNDS}")
        stop = busy_loops(h)
        try:
            for i in range(ROUNDS):
                type_ahead(h, game, 1 + i % 5, f"round {i + 1} of {ROUNDS} under load")
        finally:
            stop()

    game.choose("mi_exit.tga")
    check(game.wait_for_exit() == 0, "exit status not 0")


if __name__ == "__main__":
    main(NAME, test, cases=CASES)
