"""The program ends at start-up with an error line, "system done" and exit status 1, making no menu
choice: without a display (DISPLAY unset, or naming a display where no server runs), with
"Error: Init graphix mode 800x600x24"; with a picture missing from data/, with its "Error: Load
bitmap ..." line."""

import os

from harness.checks import check
from harness.runner import main

# In the order the program loads them; the pointer comes before "Initing net".
PICTURES = ["ptr.tga", "mi_local.tga", "mi_net.tga", "mi_exit.tga", "net_slave.tga",
            "net_master.tga", "menu.tga"]


def unused_display():
    for n in range(900, 1000):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            return f":{n}"
    raise AssertionError("no unused display number")


def test(h):
    unset = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    no_server = dict(unset, DISPLAY=unused_display())
    for what, env in (("DISPLAY unset", unset), ("no server", no_server)):
        game = h.program(None, env=env)
        status = game.wait_for_exit()
        check(status == 1, f"{what}: exit status {status}, not 1")
        check(game.lines("stderr") == ["Error: Init graphix mode 800x600x24"],
              f"{what}: error output {game.lines('stderr')}")
        check(game.lines() == ["system done"], f"{what}: output {game.lines()}")

    display = h.display()
    for name in PICTURES:
        game = h.program(display, without=[name])
        status = game.wait_for_start_up_failure()
        check(status == 1, f"without {name}: exit status {status}, not 1")
        check(game.lines("stderr") == [f"Error: Load bitmap data/{name}"],
              f"without {name}: error output {game.lines('stderr')}")
        expected = ["system done"] if name == "ptr.tga" else ["Initing net", "system done"]
        check(game.lines() == expected, f"without {name}: output {game.lines()}")


if __name__ == "__main__":
    main("start_up_failures", test)
