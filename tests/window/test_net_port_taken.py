"""A game port held by another program: the master (port 31211) and the slave (port 31212) each
show the bind error until a key, then the main menu; once the port is free again they set up a
game."""

from harness.checks import check
from harness.runner import main
from netplay.games import NetGame
from netplay.peer import MASTER_PORT, SLAVE_PORT, port_taken
from netplay.screens import (ACCEPTED, WAITING, expect_notice, host, join, leave, notice_shown,
                             two_programs)

IN_USE = "ServerSocket: cannot bind to port {} - Address already in use"


def test(h):
    master, slave = two_programs(h)
    with port_taken(MASTER_PORT):
        host(master, waiting=False)
        expect_notice(master, IN_USE.format(MASTER_PORT))
    with port_taken(SLAVE_PORT):
        # The slave's port is taken before the slave connects anywhere: no master is needed.
        join(slave)
        expect_notice(slave, IN_USE.format(SLAVE_PORT))
        # A master waits meanwhile; the failed slave never reached it.
        host(master)
        master.expect_steady(lambda img: notice_shown(master, img, WAITING),
                             "the master still waiting")
        check(ACCEPTED not in master.lines("stderr"),
              "the slave that could not listen reached the master")

    game = NetGame(master, slave)
    join(slave)
    game.wait_for_turns()
    game.play([(8, 8)])
    game.escape(1)

    leave(master)
    leave(slave)
    check(not any(line.startswith("Error: ") for p in (master, slave)
                  for line in p.lines("stderr")), "a connection error printed as an error line")


if __name__ == "__main__":
    main("net_port_taken", test)
