"""How soon the master's waiting screen says that its router has opened its port, and what the
wait costs once it has.

Two homes behind routers on a test internet (tests/window/netplay/routers.py), in private network
and mount namespaces (as the window tests run), the routers forwarding by NAT-PMP alone or by UPnP
alone (--ways). Measured, as a median over ROUNDS, by reading the master's window with XGetImage
as fast as the X server answers: waiting screen → "From the internet" line, from the first frame
with the "Join at" line to the first with the line under it; each round ends with an Escape, and
the next begins once the router has deleted the mapping. Then the master's share of one core over
SECONDS while it waits with the port open, beside the bare graphics program
(bench/bare_allegro.cpp). Asserts nothing; prints the figures and the goals.

Usage: router_bench.py GAME --data DATA --text-mask HELPER --bare BARE --ways natpmp|upnp
           [--rounds 9] [--seconds 10]
"""

import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "window"))
# pylint: disable=wrong-import-position
from harness.geometry import LAYOUT, MAIN_MENU, SCREEN_W
from lan_bench import Bare, Reader, run, shares
from netplay.routers import Homes
from netplay.screens import host

GOALS_MS = {"natpmp": 150.0, "upnp": 1300.0}
GOAL_POINTS = 0.5
JOIN_Y, INTERNET_Y = LAYOUT["JoinAtY"], LAYOUT["InternetY"]
BOX = (0, JOIN_Y, SCREEN_W, INTERNET_Y + 8 - JOIN_Y)
JOIN_ROWS, INTERNET_ROWS = range(0, 8), range(INTERNET_Y - JOIN_Y, INTERNET_Y - JOIN_Y + 8)


def bench(h, options):
    homes = Homes(h, upnp=options.ways == "upnp", natpmp=options.ways == "natpmp")
    master = homes.lan.program(homes.master)
    master.wait_for_menu()
    reader = Reader(master, BOX)
    opened = []
    for _ in range(options.rounds):
        host(master, waiting=False)
        reader.until(JOIN_ROWS, time.perf_counter())
        shown = time.perf_counter()
        opened.append(reader.until(INTERNET_ROWS, shown, timeout=12) * 1000)
        master.key("Escape")
        master.wait_for_menu(MAIN_MENU)
        homes.wait_for_mappings(0, [])

    host(master, waiting=False)
    reader.until(INTERNET_ROWS, time.perf_counter(), timeout=12)
    bare = Bare(h, h.display(), options.bare)
    bare.wait_for_window()
    time.sleep(1)
    idle = shares({"master": master, "bare": bare}, options.seconds)

    print(f"waiting screen -> 'From the internet' ({options.ways}): median "
          f"{statistics.median(opened):.1f} ms (goal <= {GOALS_MS[options.ways]:g}); "
          f"{', '.join(f'{t:.0f}' for t in opened)}")
    print(f"master in its wait, port open ({options.ways}): {idle['master']:.2f} % of a core, "
          f"bare library {idle['bare']:.2f} % (goal within {GOAL_POINTS:g} point)")


if __name__ == "__main__":
    run("router_bench", __doc__, bench,
        lambda parser: parser.add_argument("--ways", choices=sorted(GOALS_MS), required=True))
