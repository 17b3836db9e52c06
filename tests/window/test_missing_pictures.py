"""A picture missing from data/ ends the program at start-up with its "Error: Load bitmap ..." line,
then "system done" and exit status 1; no menu choice is made."""

from harness.checks import check
from harness.runner import main

# In the order the program loads them; the pointer comes before "Initing net".
PICTURES = ["ptr.tga", "mi_local.tga", "mi_net.tga", "mi_exit.tga", "net_slave.tga",
            "net_master.tga", "menu.tga"]


def test(h):
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
    main("missing_pictures", test)
