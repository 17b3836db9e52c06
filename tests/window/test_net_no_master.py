"""A slave pointed at an address where no master listens: the connection error stays on the screen
until a key, then the main menu; a new attempt asks for address and nick again and fails the same
way (the slave's own port was given back after the first failure)."""

from harness.checks import check
from harness.runner import main
from netplay.peer import LOOPBACK, SLAVE_PORT, port_free
from netplay.screens import expect_notice, join, leave, net_programs

REFUSED = "ClinetSocket: Cannot connect to server - Connection refused"


def test(h):
    (slave,) = net_programs(h, 1)
    for attempt in range(2):
        join(slave, LOOPBACK, "bert")
        expect_notice(slave, REFUSED)
        check(port_free(SLAVE_PORT), f"attempt {attempt + 1} left the slave's port taken")
    leave(slave)
    check(slave.lines() == ["Initing net", "Choice: 1", "Choice: 1", "Choice: 2", "End",
                            "system done"], f"output: {slave.lines()}")
    check(not any(line.startswith("Error: ") for line in slave.lines("stderr")),
          "a connection error was printed as an error line")


if __name__ == "__main__":
    main("net_no_master", test)
