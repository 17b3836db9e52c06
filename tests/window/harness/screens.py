"""What the program shows, read from its screenshots: pointer, menus, texts, turns, ends."""

from .checks import check
from .geometry import (BLACK, BOARD_X, BOARD_Y, END_PINK, GRID_BOX, MAIN_MENU, MARK, PARK,
                       PRESS_KEY_ORANGE, PRESS_KEY_Y, RED, RESULT_Y, SCREEN_H, SCREEN_W,
                       STATUS_GREY, TEXT_X, TURN_TEXT, TURN_Y, WHITE, WIN_TEXT, cell_centre,
                       cell_mark, line_pixels)
from .pictures import Image, bounding_box


class Screens:
    """A Program's reading of its screen (a part of Program)."""

    def arrow_shown_at(self, img, x, y):
        """Whether the game's arrow shows with its tip at (x, y) of the frame: drawn into img
        where the game draws it, else as the display's cursor there."""
        if not self.draws_arrow:
            return self.cursor_is_arrow((x, y))
        for dx, dy, colour in self.harness.pointer:
            px, py = x + dx, y + dy
            if px < SCREEN_W and py < SCREEN_H and img.pixel(px, py) != colour:
                return False
        return True

    def cursor_is_arrow(self, at=None):
        """Whether the display's cursor is the game's arrow enlarged as the window is, its tip the
        hot spot (and with `at`, over that place of the frame, as move_blind puts it). A system
        that makes cursors of one size (Windows) may add see-through pixels right and below."""
        x, y, xhot, yhot, width, height, argb = self.display.cursor()
        ptr = self.harness.picture("ptr.tga")
        w, h = ptr.width * self.scale, ptr.height * self.scale
        if (xhot, yhot) != (0, 0) or width < w or height < h:
            return False
        want = self.harness.arrow_argb
        if any(argb[j * width + i] != (want[j // self.scale * ptr.width + i // self.scale]
                                       if i < w and j < h else 0)
               for j in range(height) for i in range(width)):
            return False
        return at is None or (x, y) == self.on_screen(*at)

    def with_arrow(self, img, x, y):
        """The frame img as the window shows it with the pointer at (x, y): with the arrow drawn
        there where the game draws it, else as it is."""
        if not self.draws_arrow:
            return img
        rgb = bytearray(img.rgb)
        for dx, dy, colour in self.harness.pointer:
            if x + dx < SCREEN_W and y + dy < SCREEN_H:
                i = ((y + dy) * SCREEN_W + x + dx) * 3
                rgb[i:i + 3] = bytes(colour)
        return Image(SCREEN_W, SCREEN_H, bytes(rgb))

    def under_pointer(self, x, y):
        """Whether the pixel (x, y) is one that a drawn arrow covers where the test put the
        pointer (or, right after a click or key, where it may have been drawn meanwhile)."""
        return self.draws_arrow and any((x - px, y - py) in self.harness.pointer_pixels
                                        for px, py in self.trail)

    def changed(self, before, after):
        """Whether the screen changed from `before` to `after` other than by the pointer moving
        between the places in the trail."""
        return any(not self.under_pointer(*p) for p in after.mismatches(before, 0, 0))

    def menu_shown(self, img, buttons):
        """The menu background with `buttons` ({name: (x, y)}) on it; the pointer may cover a
        few pixels wherever it is."""
        background = self.harness.picture("menu.tga")
        wrong = []
        for name, (x, y) in buttons.items():
            wrong += img.mismatches(self.harness.picture(name), x, y)
        # Bands of the background left of, between and above the buttons.
        for band in ((0, 0, SCREEN_W, 16), (0, 300, SCREEN_W, 8), (0, 490, 100, 8)):
            wrong += img.mismatches(background.crop(*band), band[0], band[1])
        if not wrong or not self.draws_arrow:
            return not wrong
        x, y, w, h = bounding_box(wrong)
        return w <= self.harness.pointer_size[0] and h <= self.harness.pointer_size[1]

    def text_shown(self, img, x, y, text, colour):
        """Whether `text` is written at (x, y) in the default font in exactly `colour`, with
        nothing else in its 8 pixel rows up to the window's right edge (black there)."""
        width, rows = self.harness.text_mask(text)
        want, black = bytes(colour), bytes(BLACK)
        for j, bits in enumerate(rows):
            line = img.row(x, y + j, SCREEN_W - x)
            for i in range(SCREEN_W - x):
                on = i < width and bits[i] == "1"
                if line[3 * i:3 * i + 3] != (want if on else black):
                    return False
        return True

    # -- the menus and the game --

    def wait_for_menu(self, buttons=None, what="the main menu"):
        """Waits for the window (the first time) and for the menu with `buttons` on it."""
        if self.window is None:
            self.wait_for_window()
        buttons = MAIN_MENU if buttons is None else buttons
        return self.wait_for_screen(lambda img: self.menu_shown(img, buttons), what)

    def escape_in_main_menu(self):
        """Presses Escape in the main menu, which must stay, with no choice made."""
        before = self.lines()
        self.move(SCREEN_W // 2, SCREEN_H // 2)
        self.key("Escape")
        # A frame drawn after the pass that saw Escape: a choice would be written by now.
        self.move(*self.neighbour(*self.pointer_at))
        check(self.menu_shown(self.last_shot, MAIN_MENU), "the main menu is gone after Escape")
        check(self.lines() == before, f"Escape in the main menu wrote {self.lines()[len(before):]}")

    def button_centre(self, name, buttons=None):
        """The middle of the button data/`name` of a menu (default: the main menu)."""
        x, y = (MAIN_MENU if buttons is None else buttons)[name]
        picture = self.harness.picture(name)
        return x + picture.width // 2, y + picture.height // 2

    def choose(self, name, buttons=None):
        """Clicks the middle of the button data/`name` of a menu."""
        self.click(*self.button_centre(name, buttons))

    def turn_shown(self, img, player):
        return self.text_shown(img, TEXT_X, TURN_Y, TURN_TEXT[player], STATUS_GREY)

    def wait_for_turn(self, player, what=None):
        """Waits for the game screen of `player`'s turn with the pointer parked off the grid."""
        return self.wait_for_screen(
            lambda img: self.turn_shown(img, player) and self.arrow_shown_at(img, *PARK)
            and img.pixel(BOARD_X, BOARD_Y) == WHITE, what or f"{TURN_TEXT[player]!r}",
            pointer=PARK)

    def play(self, c, r, player):
        """`player` places a mark in cell (c, r), which must not end the game; returns the
        screen of the other player's turn."""
        other = 3 - player
        self.click(*cell_centre(c, r), seen=lambda img: self.turn_shown(img, other),
                   what=f"{TURN_TEXT[other]!r} after a click on ({c}, {r})")
        return self.wait_for_screen(
            lambda img: self.turn_shown(img, other) and self.arrow_shown_at(img, *PARK)
            and cell_mark(img, c, r) == MARK[player],
            f"{MARK[player]} in cell ({c}, {r}) and {TURN_TEXT[other]!r}", pointer=PARK)

    def end_screen_shown(self, img, result):
        return (self.text_shown(img, TEXT_X, TURN_Y, "End of game", END_PINK)
                and self.text_shown(img, TEXT_X, RESULT_Y, WIN_TEXT[result], STATUS_GREY)
                and self.text_shown(img, TEXT_X, PRESS_KEY_Y, "Press any key...",
                                   PRESS_KEY_ORANGE))

    def wait_for_end_screen(self, result):
        return self.wait_for_screen(lambda img: self.end_screen_shown(img, result),
                                    f"the end screen with {WIN_TEXT[result]!r}")

    def check_end_screen(self, img, line):
        """The end screen `img` shows the red line between the end cells `line` (or, for None,
        no red at all on the grid), apart from the pixels the pointer covers."""
        if line is None:
            check(img.count(RED, GRID_BOX) == 0, "a red line on the board of a game without "
                  "a winner")
            return
        missing = [p for p in line_pixels(*line) if img.pixel(*p) != RED
                   and not self.under_pointer(*p)]
        check(not missing, f"the red line from cell {line[0]} to {line[1]} lacks the pixels "
              f"{missing[:5]}...")
        red = img.count(RED, GRID_BOX)
        check(red <= len(line_pixels(*line)), f"{red} red pixels on the grid, more than the "
              "winning line")

    def play_to_win(self, moves, winner, line, typed=None):
        """Starts a hot-seat game from the main menu and plays the cells `moves` in turn order,
        player one first; the last move completes `line` (its end cells) for `winner`. Checks
        the end screen, that it waits for a key (also after a key `typed` before the winning
        move), and that a key brings the main menu back."""
        self.choose("mi_local.tga")
        self.wait_for_line("Choice: 0")
        self.wait_for_turn(1)
        for i, (c, r) in enumerate(moves[:-1]):
            self.play(c, r, 1 + i % 2)
        check((len(moves) - 1) % 2 + 1 == winner, "the last move is not the winner's")
        if typed:
            self.key(typed)

        self.click(*cell_centre(*moves[-1]), seen=lambda shot: self.end_screen_shown(shot, winner),
                   what=f"the end screen with {WIN_TEXT[winner]!r}")
        img = self.wait_for_end_screen(winner)
        self.check_end_screen(img, line)
        loser = 3 - winner
        for i, cell in enumerate(moves):
            if i % 2 + 1 == loser:
                check(cell_mark(img, *cell) == MARK[loser], f"the end screen lost the mark in "
                      f"cell {cell}")

        # The end screen is drawn once and stays until a key.
        self.move_blind(*PARK)
        self.expect_steady(lambda shot: shot.rgb == img.rgb, "the unchanged end screen")
        self.key("space", seen=lambda shot: self.menu_shown(shot, MAIN_MENU),
                 what="the main menu after the end screen")

    # -- input --
