"""A letter typed right after the Enter that ends the master's address is the nick's first: the
address typed at 5 ms a key, Enter, and 1 to 5 ms later a letter held down, before the nick
prompt has opened. The letter shows in the nick field while it is still held, in every one of ROUNDS
rounds, then again with two busy loops loading both cores."""

from harness.checks import WAIT, check
from harness.geometry import MAIN_MENU, WHITE
from harness.runner import main
from netplay.screens import (ADDRESS_PROMPT, NICK_PROMPT, ORANGE, PROMPT_AT, notice_shown,
                             open_network_menu)
from test_every_event import busy_loops

NAME = "type_ahead"
ROUNDS = 20
LETTER = "n"
# The loopback address in its short form, where no master listens.
ADDRESS = "127.1"
REFUSED = "ClinetSocket: Cannot connect to server - Connection refused"


def prompt_shown(h, img, prompt):
    """Whether `prompt` is written at the prompts' place in orange, on black, up to its end."""
    width, rows = h.text_mask(prompt)
    want, black = bytes(ORANGE), bytes((0, 0, 0))
    return all(img.row(PROMPT_AT[0], PROMPT_AT[1] + j, width)[3 * i:3 * i + 3]
               == (want if bits[i] == "1" else black)
               for j, bits in enumerate(rows) for i in range(width))


def round_(h, game, delay_ms, what):
    open_network_menu(game, "net_slave.tga")
    game.wait_for_screen(lambda img: game.text_shown(img, *PROMPT_AT, ADDRESS_PROMPT, ORANGE),
                         f"the prompt {ADDRESS_PROMPT!r}")
    nick = (PROMPT_AT[0] + h.text_mask(NICK_PROMPT)[0], PROMPT_AT[1])
    # As a fast typist or a tool types: the address, Enter, and the nick's first letter at once.
    game.display.xdotool("type", "--delay", "5", ADDRESS)
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


def test(h):
    game = h.program(h.display())
    game.wait_for_menu()
    for i in range(ROUNDS):
        round_(h, game, 1 + i % 5, f"round {i + 1} of {ROUNDS}")
    stop = busy_loops(h)
    try:
        for i in range(ROUNDS):
            round_(h, game, 1 + i % 5, f"round {i + 1} of {ROUNDS} under load")
    finally:
        stop()
    game.choose("mi_exit.tga")
    check(game.wait_for_exit() == 0, "exit status not 0")


if __name__ == "__main__":
    main(NAME, test)
