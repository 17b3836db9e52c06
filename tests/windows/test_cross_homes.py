"""The Windows build under wine hosts behind one router (netplay/routers.py) and the Linux build
joins it from behind the other, at the address its waiting screen gives.

Usage: test_cross_homes.py LINUX_PROGRAM --data DATA --text-mask TEXT_MASK --windows PROGRAM.EXE
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window"))
# pylint: disable=wrong-import-position
import wine
from harness.geometry import LAYOUT
from harness.runner import main
from netplay.lan import InMachine, grey_line, host_at, play_and_end, to_prompt
from netplay.routers import Homes
from netplay.screens import ADDRESS_PROMPT, answer


class HomeWineProgram(InMachine, wine.WineProgram):
    """Asks the router in front of it, as the Linux programs behind one do."""

    def start(self):
        self.env.pop("FIVEINAROW_PORT_MAPPING", None)
        super().start()


def test(h):
    homes = Homes(h)
    windows = HomeWineProgram(homes.master, h, h.display(), wine.prefix(h),
                              wine.beside_pictures(h, h.options.windows))
    linux = homes.lan.program(homes.slave)
    linux.wait_for_menu()
    windows.wait_for_menu()
    windows.ready_for_input()
    host_at(windows, "anna", ["192.168.1.10"])
    text = f"From the internet: {homes.outside[0]}, behind another router"
    grey_line(windows, text, LAYOUT["InternetY"], repr(text))
    to_prompt(linux)
    answer(linux, ADDRESS_PROMPT, homes.outside[0])
    play_and_end(windows, linux, "bert")
    for home in (0, 1):
        homes.wait_for_mappings(home, [])


if __name__ == "__main__":
    main("cross_homes", test, options=(("--windows", "the Windows program"),), mount=True)
