"""Drives the real fiveinarow program in a virtual X display for the window tests.

A Harness (runner.py) owns everything a test starts: one or more Xvfb displays (display.py), the
programs shown on them (program.py, which reads its screens as screens.py says and is driven as
inputs.py says), and a scratch folder. Leaving its `with` block stops them all, whether the test
passed or not; after a failure the scratch folder (program output, last screenshot) is kept and
its path printed.

Every wait has a deadline that fails the test (checks.py). Screens are read from `xwd` dumps of
the window, decoded in pictures.py, and compared with where the game draws what (geometry.py),
so the tests need Python's standard library, Xvfb, xwd and xdotool only. desktop.py reads the
window as a desktop does (its properties and icons, the generator's icons decoded by ImageMagick).
Where the game hands its arrow to the display as the window's cursor, the arrow is read from the
display (XFixes, display.py), not from the frames; on a display without colour cursors the game
draws it, and the frames show it.

A test file defines test(h) and calls main() (see the test_*.py files), for example:

    from harness.checks import check
    from harness.runner import main

    def test(h):
        game = h.program(h.display())
        game.wait_for_menu()
        game.choose("mi_exit.tga")
        check(game.wait_for_exit() == 0, "exit status not 0")

Two programs that play each other get a display each: h.program(h.display()) twice. A display can
be of another size, with X resources (h.display((2048, 1536), "Xft.dpi: 192")), and a program
whose window enlarges the frame (h.program(display, scale=2)) is read and driven in the frame's
places all the same, its every block of pixels checked to be of one colour.
"""
