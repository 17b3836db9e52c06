"""The installed game, started from a folder without pictures, shows its main menu (pictures read
from where they are installed) and ends from its exit button as it does from the repository."""

import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window"))
# pylint: disable=wrong-import-position
from harness.program import Program
from harness.runner import main


def test(h):
    display = h.display()
    game = Program(h, display, tempfile.mkdtemp(dir=h.scratch, prefix="run-"), display.env)
    game.wait_for_menu()
    game.choose("mi_exit.tga")
    game.expect_clean_exit(["Initing net", "Choice: 2", "End", "system done"])


if __name__ == "__main__":
    main("start_installed", test)
