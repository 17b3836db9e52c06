"""The window's close button, sent as a window manager sends it, ends the program the way Exit
does, from a hot-seat game and from a network game, whose peer is told first and shows "Game
interrupted"; SIGTERM then ends the peer on its end screen. The window's title."""

import signal
import time

from harness.checks import check
from harness.runner import main
from netplay.games import NetGame
from netplay.screens import new_lines, two_programs, wait_parked

# The program reacts within a frame or a key poll; the bound leaves room for a busy machine.
BOUND = 3.0


def ends_cleanly(program, ask, why):
    before, start = program.lines(), time.monotonic()
    ask()
    status = program.wait_for_exit(BOUND)
    print(f"{why}: ended after {time.monotonic() - start:.2f} s")
    check(status == 0, f"exit status {status} after the {why}")
    check(new_lines(program, before) == [f"End: {why}", "system done"],
          f"output after the {why}: {new_lines(program, before)}")
    check(not [line for line in program.lines("stderr") if line.startswith("Error")],
          f"error output: {program.lines('stderr')}")


def test(h):
    game = h.program(h.display())
    game.wait_for_menu()
    title = game.display.xdotool("getwindowname", game.window).strip()
    check(title == "Five in a row", f"the window's title is {title!r}")
    game.choose("mi_local.tga")
    game.wait_for_turn(1)
    game.play(7, 7, 1)
    ends_cleanly(game, game.close, "close button")

    master, slave = two_programs(h)
    net = NetGame(master, slave)
    net.start()
    net.play([(7, 7)])
    ends_cleanly(slave, slave.close, "close button")  # in the slave's own turn
    wait_parked(master, lambda img: master.end_screen_shown(img, 0), "'Game interrupted'")
    check("Listener: Remote interrupt recieved" in master.lines("stderr"),
          "the master did not get the interrupt message")
    master.expect_steady(lambda img: master.end_screen_shown(img, 0), "the end screen")
    ends_cleanly(master, lambda: master.proc.send_signal(signal.SIGTERM), "signal 15")


if __name__ == "__main__":
    main("close_button", test)
