"""Without a display (DISPLAY unset, or naming a display where no server runs) the program reports
"Error: Init graphix mode 800x600x24", writes "system done" and exits with status 1."""

import os

from harness.checks import check
from harness.runner import main


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


if __name__ == "__main__":
    main("no_display", test)
