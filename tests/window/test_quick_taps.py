"""Quick taps count, every time: a key or button held for 5 ms, which a loop that rests between its
passes may never see down, still does what it does.

- In a hot-seat game, 5 ms clicks on cells place the marks, turn after turn; a 5 ms Escape ends
  the game.
- In the remote turn of a network game (the program as slave of a scripted master), a 5 ms Escape
  ends the game and tells the peer.
- In the master's wait for a slave, and in a slave's connect to an address that does not answer
  (its packets dropped with nftables in the test's private network namespace), a 5 ms Escape
  brings the main menu back.

Each wait for the tap's effect has the harness's deadline: a tap the program missed fails."""

from harness.checks import check
from harness.geometry import MAIN_MENU, MARK, PARK, cell_centre, cell_mark
from harness.runner import main
from netplay.games import begin
from netplay.peer import Peer
from netplay.screens import Transcript, host, join, leave, unanswered, wait_for_waiting

NAME = "quick_taps"
TAPS = 3


def back_to_menu(game, what):
    """After a tapped Escape that ended a game: the main menu, or the end screen on the way (its
    wait takes the Escape from the key buffer, so it may pass unseen), then the main menu."""
    game.move_blind(*PARK)
    img = game.wait_for_screen(
        lambda img: game.menu_shown(img, MAIN_MENU) or game.end_screen_shown(img, 0), what)
    if not game.menu_shown(img, MAIN_MENU):
        game.key("space")
        game.wait_for_menu(what=f"the main menu after the end screen, {what}")


def hot_seat(game, log):
    game.choose("mi_local.tga")
    log.expect(out=["Choice: 0"])
    game.wait_for_turn(1)
    for i, cell in enumerate([(3, 3), (4, 4), (5, 3), (6, 4), (7, 3)]):
        player = 1 + i % 2
        game.move(*cell_centre(*cell))
        game.tap_button()
        img = game.wait_for_turn(3 - player, f"a 5 ms click on {cell} taken")
        check(cell_mark(img, *cell) == MARK[player], f"no {MARK[player]} in {cell}")
    game.tap_key("Escape")
    back_to_menu(game, "a 5 ms Escape in a hot-seat turn")
    log.check()


def remote_wait(game, log):
    with Peer("master") as peer:
        begin(game, peer, log, nick="tap")
        game.tap_key("Escape")
        peer.expect_interrupt()
        back_to_menu(game, "a 5 ms Escape in the remote turn")
        log.expect(out=["Local interrupt"])
        log.check()
        peer.expect_end()
        peer.expect_dropped()


def master_wait(game, log):
    host(game, "h5")
    game.tap_key("Escape")
    game.wait_for_menu(what="the main menu after a 5 ms Escape in the master's wait")
    log.expect(out=["Choice: 1"])
    log.check()


def unanswered_connect(game, log):
    join(game, "127.0.0.2", "tap")
    wait_for_waiting(game)
    game.tap_key("Escape")
    game.wait_for_menu(what="the main menu after a 5 ms Escape in a connect without answer")
    log.expect(out=["Choice: 1"])
    log.check()


def test(h):
    unanswered("127.0.0.2")
    game = h.program(h.display())
    game.wait_for_menu()
    log = Transcript(game)
    hot_seat(game, log)
    for screen in (remote_wait, master_wait, unanswered_connect):
        for _ in range(TAPS):
            screen(game, log)
    leave(game, log)


if __name__ == "__main__":
    main(NAME, test)
