"""How a test drives the program: pointer, clicks and keys, each held until taken."""

import time

from .checks import QUIET, WAIT, Failure, poll
from .geometry import BOARD_X, BOARD_Y, CELL, CELLS, MAIN_MENU, SCREEN_H, SCREEN_W, SUB_MENU


class Input:
    """A Program's pointer and keys (a part of Program)."""

    def move(self, x, y):
        """Moves the pointer and waits until the arrow shows there."""
        if not self.synced:
            self.sync_pointer()
        self.move_blind(x, y)
        what = f"the arrow at ({x}, {y})"
        for attempt in poll(WAIT, what, step=0.01):
            shot = self.try_screenshot(what)
            if shot is not None and self.arrow_shown_at(shot, x, y):
                return
            # The library may still be following the pointer by relative motion, or, as it
            # stops doing so, put the real pointer back where it has its own.
            if attempt and attempt % 10 == 0:
                if attempt % 30 == 0:
                    self.sync_pointer()
                self.move_blind(x, y)

    def sync_pointer(self):
        """Makes the program's pointer follow the real one. Where the game draws its arrow, the
        library follows the pointer by relative motion for a while after start-up, from where it
        put its own pointer, so that moves land off their targets. It stops its pointer at the
        window's edges, though: after a move to the bottom-right corner and one to the top-left
        corner, its pointer is at (0, 0) whatever it made of the moves before, and from there it
        follows exactly. With the arrow as the display's cursor it follows exactly from the
        start."""
        if not self.draws_arrow:
            self.synced = True
            return
        for attempt in poll(WAIT, "the pointer to be drawn at (0, 0)", step=0.01):
            if attempt % 10 == 0:
                self.move_blind(SCREEN_W - 1, SCREEN_H - 1)
                self.move_blind(0, 0)
            shot = self.try_screenshot("the pointer in the top-left corner")
            if shot is not None and self.arrow_shown_at(shot, 0, 0):
                self.synced = True
                return

    def move_blind(self, x, y):
        """Moves the pointer without looking (for screens that are not redrawn)."""
        self.pointer_at = (x, y)
        self.trail = [(x, y)]
        self.display.xdotool("mousemove", *(str(v) for v in self.on_screen(x, y)))

    def on_screen(self, x, y):
        """Where on the screen the pointer goes for the frame's (x, y): in an enlarged window, the
        last of the block's pixels, which shows the frame's (x, y) as well as its first does."""
        corner = self.scale - 1
        return self.origin[0] + x * self.scale + corner, self.origin[1] + y * self.scale + corner

    def press(self):
        self.display.xdotool("mousedown", "1")

    def release(self):
        self.display.xdotool("mouseup", "1")

    def click(self, x, y, seen=None, what=None):
        """Clicks at (x, y), holding the button until the program has taken the press: until
        seen(screenshot) holds, or see settle()."""
        self.move(x, y)
        before = self.last_shot
        self.press()
        self.settle(before, seen, what or f"a click at ({x}, {y})", self.release)

    def key(self, name, seen=None, what=None):
        """Presses a key, holding it until the program has taken it (as for click); the pointer
        must be over the window, as keyboard focus follows it."""
        before = self.steady_screen()
        self.display.xdotool("keydown", name)
        self.settle(before, seen, what or f"the key {name}",
                    lambda: self.display.xdotool("keyup", name))

    def steady_screen(self):
        """The screen once the pointer shows where the test put it, or, on a screen drawn only
        once, the screen as it stays."""
        shots = []
        for _ in poll(WAIT, "a steady screen", step=0.03):
            shot = self.try_screenshot("a steady screen")
            if shot is None:
                continue
            if self.pointer_at is None or self.arrow_shown_at(shot, *self.pointer_at):
                return shot
            shots.append(shot)
            if len(shots) >= 4 and all(s.rgb == shot.rgb for s in shots[-4:]):
                return shot

    def settle(self, before, seen, what, release):
        """Waits until the program has taken a press that is still held, then releases it.

        The program polls the button and key states, which the library updates from the display's
        events on a thread of its own: a press and its release that it reads together leave no
        trace in those states, so a press is held until its effect shows. With `seen`, that is
        until seen(screenshot) holds. Otherwise the pointer is moved on by a pixel, within the
        same cell or button, until the program either draws it there (it reads that move after
        the press and looks at the held press on the same pass) or changes the screen in another
        way (a screen that the press called up, which may be drawn only once); then it goes back.
        Where the arrow is the display's cursor, no frame shows the move: the press is held until
        the screen changes, or for QUIET, by when a program that changes nothing has long taken
        it (the program reads every press from its queue, however short).
        """
        start = self.pointer_at or (SCREEN_W // 2, SCREEN_H // 2)
        step = self.neighbour(*start) if self.draws_arrow else None
        quiet_from = time.monotonic()
        try:
            if seen is not None:
                self.wait_for_screen(seen, what)
                return
            for attempt in poll(WAIT, f"the program to take {what}", step=0.01):
                if step is None:
                    if time.monotonic() - quiet_from > QUIET:
                        break
                elif attempt % 10 == 0:
                    self.move_blind(*step)
                    self.trail = [start, step]
                try:
                    shot = self.screenshot()
                except Failure:
                    # The press may have ended the program: its window goes before the process
                    # does, so a screenshot can fail while it is still shutting down.
                    if self.ends_within(QUIET * 5):
                        return
                    raise
                if (step is not None and self.arrow_shown_at(shot, *step)
                        or self.changed(before, shot)):
                    break
        finally:
            release()
        if step is not None and self.running():
            trail = self.trail
            self.move_blind(*start)
            self.trail = trail

    def neighbour(self, x, y):
        """A pixel next to (x, y) in the same cell (or off the grid) and the same buttons."""
        def region(px, py):
            c, r = (px - BOARD_X) // CELL, (py - BOARD_Y) // CELL
            cell = (c, r) if px >= BOARD_X and py >= BOARD_Y and c < CELLS and r < CELLS else None
            buttons = tuple(
                name for name, (bx, by) in {**MAIN_MENU, **SUB_MENU}.items()
                if bx <= px < bx + self.harness.picture(name).width
                and by <= py < by + self.harness.picture(name).height)
            return cell, buttons

        for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1), (1, 1), (-1, -1), (1, -1), (-1, 1)):
            nx, ny = x + dx, y + dy
            if 0 <= nx < SCREEN_W and 0 <= ny < SCREEN_H and region(nx, ny) == region(x, y):
                return nx, ny
        raise Failure(f"no pixel next to ({x}, {y}) in the same place")

    def tap_key(self, name, hold=0.005):
        """Presses a key for `hold` seconds, in one call of xdotool, and does not wait for the
        program to take it: a tap that may fall between two of its passes."""
        self.display.xdotool("keydown", name, "sleep", f"{hold:g}", "keyup", name)

    def tap_button(self, hold=0.005):
        """Presses the left button where the pointer is for `hold` seconds, as tap_key does."""
        self.display.xdotool("mousedown", "1", "sleep", f"{hold:g}", "mouseup", "1")

    def close(self):
        """Clicks the window's close button."""
        self.display.close_window(self.window)

    def type_text(self, text):
        """Types `text` key by key (for the program's line editor, which reads buffered keys)."""
        self.display.xdotool("type", "--delay", "30", text)
