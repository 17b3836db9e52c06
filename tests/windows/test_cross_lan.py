"""The Windows build under wine (its prefix and server started in its machine's namespace) and
the Linux build on a LAN of the test's own (netplay/lan.py) list and join each other's games.

Usage: test_cross_lan.py LINUX_PROGRAM --data DATA --text-mask TEXT_MASK --windows PROGRAM.EXE
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window"))
# pylint: disable=wrong-import-position
import wine
from harness.runner import main
from netplay.lan import InMachine, Lan, check_list, click_row, host_at, play_and_end, to_prompt


class LanWineProgram(InMachine, wine.WineProgram):
    pass


def test(h):
    lan = Lan(h, "10.7.0")
    linux = lan.program(lan.machine("10.7.0.1"))
    windows = LanWineProgram(lan.machine("10.7.0.2"), h, h.display(), wine.prefix(h),
                             wine.beside_pictures(h, h.options.windows))
    linux.wait_for_menu()
    windows.wait_for_menu()
    windows.ready_for_input()
    for master, address, slave in ((linux, "10.7.0.1", windows), (windows, "10.7.0.2", linux)):
        host_at(master, "anna", [address])
        to_prompt(slave)
        check_list(slave, [("anna", address)], f"the master at {address} listed",
                   timeout=wine.WINDOW_TIMEOUT / 4)
        click_row(slave, 0)
        play_and_end(master, slave, "bert")


if __name__ == "__main__":
    main("cross_lan", test, options=(("--windows", "the Windows program"),), mount=True)
