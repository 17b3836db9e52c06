"""The games on the network between the Windows build under wine and the Linux build, each on a
machine of its own on a bridge of the test's own (netplay/lan.py), wine's prefix and server in the
Windows machine's namespace: the Windows program lists a Linux master and joins it by a click,
then a Linux slave lists the Windows program's master, which shows its address while it waits,
and joins it.

Usage: test_cross_lan.py LINUX_PROGRAM --data DATA --text-mask TEXT_MASK --windows PROGRAM.EXE
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window"))
# pylint: disable=wrong-import-position
import wine
from harness.runner import main
from netplay.lan import Lan, check_list, click_row, host_at, play_and_end, to_address_prompt


class LanWineProgram(wine.WineProgram):
    """The Windows program on a machine of the LAN: wine, and so its server, start there."""

    def __init__(self, harness, display, prefix, exe, machine):
        self.machine = machine
        super().__init__(harness, display, prefix, exe)

    def command(self):
        return ["nsenter", f"--net=/proc/{self.machine}/ns/net", "--", *super().command()]


def hosted_and_joined(master, address, slave, what):
    """The master hosts, the slave lists it at its address and joins it with a click."""
    host_at(master, "anna", [address])
    to_address_prompt(slave)
    check_list(slave, [("anna", address)], what, timeout=wine.WINDOW_TIMEOUT / 4)
    click_row(slave, 0)
    play_and_end(master, slave, "bert")


def test(h):
    lan = Lan(h, "10.7.0")
    linux = lan.program(lan.machine("10.7.0.1"))
    windows = LanWineProgram(h, h.display(), wine.prefix(h),
                             wine.beside_pictures(h, h.options.windows),
                             lan.machine("10.7.0.2"))
    linux.wait_for_menu()
    windows.wait_for_menu()
    windows.ready_for_input()

    hosted_and_joined(linux, "10.7.0.1", windows, "the Linux master on the Windows program's list")
    hosted_and_joined(windows, "10.7.0.2", linux, "the Windows master on the Linux program's list")

if __name__ == "__main__":
    main("cross_lan", test, options=(("--windows", "the Windows program"),), mount=True)
