"""A game between two homes, each behind a router of its own on a test internet
(netplay/routers.py): four walks (--case both: the routers forward by UPnP and NAT-PMP; natpmp,
upnp: by one of them alone; none: no router forwards anything)."""

import signal
import time

from harness.checks import WAIT, check
from harness.geometry import LAYOUT, MAIN_MENU
from harness.runner import main
from netplay.games import NetGame
from netplay.lan import Stranger, grey_line, hold, host_at, to_prompt
from netplay.routers import Homes
from netplay.screens import ADDRESS_PROMPT, NICK_PROMPT, answer, host

MASTER, SLAVE, STRANGER = "192.168.1.10", "192.168.2.10", "100.64.0.50"
INTERNET_Y, SLAVE_PORT_Y = LAYOUT["InternetY"], LAYOUT["SlavePortY"]


def from_the_internet(master, homes, soon):
    """The master's router's outside address, a shared one, under its addresses, within `soon`
    seconds."""
    text = f"From the internet: {homes.outside[0]}, behind another router"
    grey_line(master, text, INTERNET_Y, f"{text!r} within {soon} s", timeout=soon)
    check(homes.mappings(0) == [(31211, MASTER, 31211)], f"router 0 holds {homes.mappings(0)}")


def slave_waits(slave, homes):
    """The slave types the master's outside address and a nick; its router opens its port."""
    to_prompt(slave)
    answer(slave, ADDRESS_PROMPT, homes.outside[0])
    answer(slave, NICK_PROMPT, "bert")
    grey_line(slave, "Your router opened port 31212, behind another router", SLAVE_PORT_Y,
              "the slave's port opened on its waiting screen")


def escape_at_once(program, what):
    started = time.monotonic()
    program.key("Escape", lambda img: program.menu_shown(img, MAIN_MENU), what)
    check(time.monotonic() - started < 2, f"{what} took {time.monotonic() - started:.1f} s")


def terminated(program):
    program.proc.send_signal(signal.SIGTERM)
    check(program.wait_for_exit() == 0, "SIGTERM ended the program with a failure")


def across(h, ways):
    """A game across both routers while a stranger on the internet keeps connecting to the
    slave's port; the routers forget the ports after the join, and each side's Escape and
    SIGTERM."""
    homes = Homes(h, **ways)
    # UPnP alone first waits out its search's delay of silence: the 2 s are NAT-PMP's.
    soon = 2 if ways["natpmp"] else WAIT
    master, slave = (homes.lan.program(m) for m in (homes.master, homes.slave))
    for program in (master, slave):
        program.wait_for_menu()
    host_at(master, "alice", [MASTER])
    from_the_internet(master, homes, soon)
    # The master's connection back waits at its router until the stranger has been turned away.
    release = hold(homes.routers[0], 31212)
    stranger = Stranger(h, homes.lan.machine(STRANGER), homes.outside[1])
    slave_waits(slave, homes)
    slave.wait_for_line(f"Listener: refused connection from {STRANGER}", "stderr")
    release()
    game = NetGame(master, slave)
    game.wait_for_turns()
    check(stranger.stop() > 0, "the stranger never connected")
    for home in (0, 1):
        homes.wait_for_mappings(home, [])
    game.play([(7, 7), (8, 8), (7, 8)])
    game.escape(1)

    host(master, "alice")
    from_the_internet(master, homes, soon)
    escape_at_once(master, "the main menu after Escape on the waiting screen")
    homes.wait_for_mappings(0, [])
    # The slave's Escape while the master's connection back is held (the master's port went
    # with the slave's nick).
    host(master, "alice")
    from_the_internet(master, homes, soon)
    hold(homes.routers[0], 31212)
    slave_waits(slave, homes)
    escape_at_once(slave, "the slave's main menu after Escape on its waiting screen")
    homes.wait_for_mappings(1, [])
    terminated(master)
    master = homes.lan.program(homes.master)
    master.wait_for_menu()
    host(master, "alice")
    from_the_internet(master, homes, soon)
    terminated(master)
    homes.wait_for_mappings(0, [])
    # The slave's router is asked while the nick is typed.
    to_prompt(slave)
    answer(slave, ADDRESS_PROMPT, homes.outside[0])
    homes.wait_for_mappings(1, [(31212, SLAVE, 31212)], timeout=WAIT)
    terminated(slave)
    homes.wait_for_mappings(1, [])


def no_router(h, _):
    """Routers that forward nothing: the master says so, and Escape works at once throughout."""
    homes = Homes(h, upnp=False, natpmp=False)
    master = homes.lan.program(homes.master)
    master.wait_for_menu()
    host_at(master, "alice", [MASTER])
    escape_at_once(master, "the main menu after Escape while the router is asked")
    host_at(master, "alice", [MASTER])
    grey_line(master, "Only on this network: no router opened port 31211", INTERNET_Y,
              "no router opened the port, within 12 s", timeout=12)
    escape_at_once(master, "the main menu after Escape once no router opened the port")


if __name__ == "__main__":
    main("net_homes", lambda h, case: case[0](h, case[1]), mount=True,
         cases={"both": (across, {"upnp": True, "natpmp": True}),
                "natpmp": (across, {"upnp": False, "natpmp": True}),
                "upnp": (across, {"upnp": True, "natpmp": False}), "none": (no_router, None)})
