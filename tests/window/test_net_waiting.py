"""Waiting for the peer: Escape while the master waits brings the main menu back without an end
screen and frees the port, so that the master can host again at once; a stray client that closes
its connection before sending a nick ends the wait with a notice. A slave listens before its nick
reaches the master, waits for the connection back, and leaves that wait with Escape too. A
nick answered with keypad Enter, then SIGINT while the master waits: a clean end."""

import signal

from harness.checks import WAIT, check
from harness.geometry import MAIN_MENU
from harness.runner import main
from netplay.games import NetGame
from netplay.peer import LOOPBACK, MASTER_PORT, SLAVE_PORT, Peer, connect_to, port_free
from netplay.screens import (ACCEPTED, expect_notice, host, join, new_lines, two_programs,
                             wait_for_waiting)


def leave_wait(program):
    """Escape in a wait: the main menu comes back and stays, with no end screen waiting for a
    key, and nothing written."""
    before = program.lines()
    program.key("Escape")
    program.wait_for_menu(MAIN_MENU, "the main menu after Escape in the wait")
    program.expect_steady(lambda img: program.menu_shown(img, MAIN_MENU), "the main menu")
    check(new_lines(program, before) == [], f"leaving the wait wrote {new_lines(program, before)}")


def slave_waits_for_a_silent_master(slave):
    """A master of the test's own takes the slave's nick, connects back and says nothing."""
    with Peer("master") as peer:
        peer.listen()
        join(slave, LOOPBACK, "bert")
        peer.accept()
        peer.expect_nick("bert")
        # The slave already listens: the connection back succeeds at once.
        peer.connect()
        wait_for_waiting(slave)
        leave_wait(slave)
        peer.expect_dropped()
        peer.expect_end()
    check(port_free(SLAVE_PORT), "the slave still holds its port after leaving the wait")


def stray_client(master):
    """A client that connects to the waiting master and leaves without a word."""
    host(master)
    connect_to(LOOPBACK, MASTER_PORT, WAIT).close()
    expect_notice(master, "Socket::get: connection closed by peer")


def test(h):
    master, slave = two_programs(h)

    host(master)
    leave_wait(master)
    check(port_free(MASTER_PORT), "the master still holds its port after leaving the wait")

    slave_waits_for_a_silent_master(slave)
    stray_client(master)

    # Both ports serve a whole set-up again; this game ends by Escape.
    game = NetGame(master, slave)
    game.start()
    game.play([(5, 5)])
    game.escape(2)
    check(master.lines("stderr").count(ACCEPTED) == 2,
          "the master did not accept exactly the stray client and the slave")

    # The listener thread, blocked in its accept, must be woken and joined for the end to come.
    host(master, enter="KP_Enter")
    before = master.lines()
    master.proc.send_signal(signal.SIGINT)
    check(master.wait_for_exit() == 0, "exit status not 0 after SIGINT")
    check(new_lines(master, before) == ["End: signal 2", "system done"],
          f"output after SIGINT: {new_lines(master, before)}")


if __name__ == "__main__":
    main("net_waiting", test)
