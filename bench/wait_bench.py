"""What the game costs while it waits for its player or its peer, and how soon it answers them.

For each waiting screen (main menu, network sub-menu, hot-seat turn, local and remote network turn,
the master's wait for a slave, a slave's connect that gets no answer) the game is brought there
with the window harness and left alone: its share of one core and the X server's over SECONDS,
read from /proc/PID/stat. Beside it the bare graphics program (bench/bare_allegro.cpp), which
only rests between polls, measured the same way. Under wine every process of the game's prefix,
its wineserver included, counts as the game.

Then the latencies, medians over a few rounds, each input made with XTest and its effect found by
reading the changed part of the window (XGetImage) as fast as the server answers: a 5 ms click
on a cell to the frame with the mark; a peer's move written on the socket to the frame with it;
a 5 ms Escape in the master's wait to the next screen; the master's connect back to the slave,
from its completion (the scripted slave's accept returns; its first try is dropped with nftables,
so that the connect is still in progress when the system's retry completes it) to the game's
first frame; the master leaving during the slave's wait for its connection back, from the close
to the notice; a 5 ms key at the nick prompt, with two busy loops loading the machine, to the
frame that shows its character. A 5 ms tap that shows nothing within a
second is counted as missed and made again, held until it shows; the latency is then the held
press's. Every figure for each game given, so that
an older build (today's busy loop) is measured in the same run beside the new one.

Runs in private network and mount namespaces of its own (as the window tests do): the game's
ports are its own, and /etc/hosts names a host whose two addresses do not answer. Needs
Xvfb, xdotool, nftables. Asserts nothing; prints the figures and the goals beside them.

With --scale N the games' windows enlarge their frames N times (FIVEINAROW_SCALE, on a screen N
times as large as usual), as on a HiDPI desktop; the bare program's stays as it is.

Usage: wait_bench.py --data DATA --text-mask HELPER [--bare BARE --game NAME=EXE ...]
           [--windows-bare BARE.EXE --windows-game NAME=EXE ...] [--seconds 10] [--rounds 9]
           [--scale 1]
The Linux figures and the latencies are measured for the --game programs, the wine figures for
the --windows-game programs.
"""

import argparse
import ctypes
import os
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "window"))
# pylint: disable=wrong-import-position
import wine
from harness.checks import check
from harness.desktop import x_image
from harness.geometry import BOARD_X, BOARD_Y, CELL, LAYOUT, MAIN_MENU, PARK, SUB_MENU, cell_centre
from harness.geometry import CELLS as CELLS_ACROSS
from harness.program import Program
from harness.runner import Harness, private_network
from netplay.games import begin
from netplay.peer import LOOPBACK, Peer, nick_message
from netplay.screens import PROMPT_AT, Transcript, host, join, wait_for_waiting

GOAL_LINUX = 3.0
GOAL_WINE = 5.0
GOAL_CLICK_MS = 20.0
GOAL_MOVE_MS = 20.0
GOAL_ESCAPE_MS = 50.0
GOAL_CONNECT_MS = 20.0
GOAL_LEFT_MS = 20.0
GOAL_KEY_MS = 20.0
DEAF_HOST = "deaf.test"
HOSTS = f"127.0.0.1 localhost\n127.0.0.2 {DEAF_HOST}\n127.0.0.3 {DEAF_HOST}\n"
TICKS = os.sysconf("SC_CLK_TCK")


# ---- CPU time ----

def cpu_seconds(pid):
    """User and system time of a process so far, 0 when it has gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / TICKS


def prefix_pids(prefix_path):
    """Every process started for the wine prefix, its wineserver included."""
    want = f"WINEPREFIX={prefix_path}".encode()
    pids = []
    for name in os.listdir("/proc"):
        if name.isdigit():
            try:
                with open(f"/proc/{name}/environ", "rb") as f:
                    if want in f.read().split(b"\0"):
                        pids.append(int(name))
            except OSError:
                pass
    return pids


def shares(pids_of, seconds):
    """{name: per cent of one core} over `seconds` for the processes pids_of() gives by name; a
    process that starts meanwhile counts whole, one that ends is lost."""
    before = {name: {pid: cpu_seconds(pid) for pid in pids} for name, pids in pids_of().items()}
    start = time.monotonic()
    time.sleep(seconds)
    after = {name: {pid: cpu_seconds(pid) for pid in pids} for name, pids in pids_of().items()}
    took = time.monotonic() - start
    return {name: 100 * sum(t - before[name].get(pid, 0.0) for pid, t in after[name].items())
            / took for name in after}


# ---- Programs ----

class Game(Program):
    """A Linux game or graphics program given by its path (the harness's own is only one)."""

    def __init__(self, harness, display, exe, args=(), scale=1):
        self.exe, self.args = exe, list(args)
        env = dict(display.env, FIVEINAROW_SCALE=str(scale)) if scale != 1 else dict(display.env)
        super().__init__(harness, display, harness.workdir(), env, scale)

    def command(self):
        return [self.exe, *self.args]


class Subject:
    """How to start one game and whose CPU time counts as its own."""

    def __init__(self, name, start, pids):
        self.name, self.start, self.pids = name, start, pids


def linux_subject(h, display, name, exe, args=(), scale=1):
    return Subject(name, lambda: Game(h, display, exe, args, scale), lambda p: [p.proc.pid])


def wine_subject(h, display, prefix, name, exe):
    copy = wine.beside_pictures(h, exe)
    return Subject(name, lambda: ready(wine.WineProgram(h, display, prefix, copy)),
                   lambda p: prefix_pids(prefix.path))


def ready(program):
    program.ready_for_input()
    return program


# ---- The waiting screens ----

def park(game, condition, what):
    game.wait_for_screen(condition, what, pointer=PARK)


def back_to_menu(game):
    """Escape, then a key for an end screen that stays: the main menu again."""
    game.move_blind(*PARK)
    game.key("Escape")
    img = game.wait_for_screen(
        lambda img: game.menu_shown(img, MAIN_MENU) or game.end_screen_shown(img, 0),
        "the main menu or the end screen after Escape")
    if not game.menu_shown(img, MAIN_MENU):
        game.key("space")
        game.wait_for_menu(what="the main menu after the end screen")


def screens(h):
    """(name, enter(game) -> leave(game)) for each waiting screen, from the main menu and back."""
    def main_menu(game):
        park(game, lambda img: game.menu_shown(img, MAIN_MENU), "the main menu")
        return lambda: None

    def sub_menu(game):
        game.choose("mi_net.tga")
        park(game, lambda img: game.menu_shown(img, SUB_MENU), "the network sub-menu")
        return lambda: (game.key("Escape"), game.wait_for_menu())

    def hot_seat(game):
        game.choose("mi_local.tga")
        game.wait_for_turn(1)
        return lambda: back_to_menu(game)

    def network(role):
        def enter(game):
            peer = Peer(role)
            begin(game, peer, Transcript(game), nick="bench")

            def leave():
                back_to_menu(game)
                peer.close()
            return leave
        return enter

    def master_wait(game):
        host(game, "h5")
        return lambda: back_to_menu(game)

    def deaf_connect(game):
        join(game, DEAF_HOST, "bench")
        wait_for_waiting(game)
        return lambda: back_to_menu(game)

    return [("main menu", main_menu), ("network sub-menu", sub_menu),
            ("hot-seat turn", hot_seat), ("local network turn", network("slave")),
            ("remote turn", network("master")), ("master's wait", master_wait),
            ("slave's connect, no answer", deaf_connect)]


def idle_figures(h, display, subjects, bare, seconds):
    """{subject: {screen: (game %, X %)}}, and the bare program's (game %, X %)."""
    xserver = display.proc.pid
    program = bare.start()
    program.wait_for_menu({"mi_exit.tga": MAIN_MENU["mi_exit.tga"]}, "the bare program")
    program.move_blind(*PARK)
    got = shares(lambda: {"game": bare.pids(program), "x": [xserver]}, seconds)
    bare_figures = (got["game"], got["x"])
    program.stop()
    figures = {}
    for subject in subjects:
        game = subject.start()
        game.wait_for_menu()
        figures[subject.name] = {}
        for name, enter in screens(h):
            leave = enter(game)
            game.move_blind(*PARK)
            time.sleep(0.5)
            got = shares(lambda: {"game": subject.pids(game), "x": [xserver]}, seconds)
            figures[subject.name][name] = (got["game"], got["x"])
            print(f"  {subject.name:>12}  {name:<28} game {got['game']:6.1f} %   "
                  f"X server {got['x']:6.1f} %", flush=True)
            leave()
        game.stop()
    return figures, bare_figures


# ---- Latency ----

class XInput:
    """XTest input and small reads of the window, on a connection of its own."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                   ctypes.c_ulong]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.connection = self.x11.XOpenDisplay(display.name.encode())
        check(self.connection, "no connection to the display for XTest")
        self.escape = self.x11.XKeysymToKeycode(self.connection, 0xFF1B)

    def region(self, window, box):
        """The bytes of the window's pixels in box (x, y, w, h)."""
        return x_image(self.x11, self.connection, int(window), box)[0]

    def flush(self):
        self.x11.XFlush(self.connection)

    def button(self, down):
        self.xtst.XTestFakeButtonEvent(self.connection, 1, down, 0)

    def escape_key(self, down):
        self.xtst.XTestFakeKeyEvent(self.connection, self.escape, down, 0)

    def letter_key(self, letter):
        """press(down) for the key of a lower-case letter."""
        code = self.x11.XKeysymToKeycode(self.connection, ord(letter))
        return lambda down: self.xtst.XTestFakeKeyEvent(self.connection, code, down, 0)

    def press(self, press, window, box):
        """A 5 ms press (press(True), then press(False)) that changes the window's box: (ms from
        the press to the change, whether the 5 ms tap was taken). A tap that shows nothing within
        a second is made again, held until the change shows."""
        before = self.region(window, box)
        start = time.perf_counter()
        press(True)
        self.flush()
        time.sleep(0.005)
        press(False)
        self.flush()
        ms = self.until_changed(window, box, before, start, 1.0)
        if ms is not None:
            return ms, True
        start = time.perf_counter()
        press(True)
        self.flush()
        try:
            ms = self.until_changed(window, box, before, start, 5.0)
            check(ms is not None, "a held press changed nothing within 5 s")
        finally:
            press(False)
            self.flush()
        return ms, False

    def until_changed(self, window, box, before, since, timeout):
        """Milliseconds from `since` until the box differs from `before`; None after timeout."""
        while True:
            now = time.perf_counter()
            if self.region(window, box) != before:
                return (now - since) * 1000
            if now - since > timeout:
                return None


def cell_box(c, r):
    x, y = cell_centre(c, r)
    return (x - 6, y - 6, 12, 12)


NOTICE_BOX = (300, 290, 200, 20)
# The nick prompt's text, and the place of the first character typed after it.
NICK_PROMPT = "Your nick: "
PROMPT_X, PROMPT_Y = PROMPT_AT
PROMPT_ORANGE = LAYOUT["PromptOrange"]
BOARD_BOX = (BOARD_X, BOARD_Y, CELLS_ACROSS * CELL, CELLS_ACROSS * CELL)


def in_window(game, box):
    """The box (x, y, w, h) of the frame as the game's window shows it."""
    return tuple(v * game.scale for v in box)
CELLS = [(c, r) for r in (1, 4, 7, 10, 13) for c in (1, 4, 7, 10, 13)]


def latencies(display, subject, rounds):
    """{what: [ms]} for one game, and {what: 5 ms taps taken}."""
    xi = XInput(display)
    game = subject.start()
    game.wait_for_menu()
    got = {"click": [], "move": [], "escape": [], "connect": [], "left": [], "key": []}
    taps = {"click": 0, "escape": 0, "key": 0}

    game.choose("mi_local.tga")
    game.wait_for_turn(1)
    for i, cell in enumerate(CELLS[:rounds]):
        game.move(*cell_centre(*cell))
        time.sleep(0.1)
        ms, tapped = xi.press(xi.button, game.window, in_window(game, cell_box(*cell)))
        got["click"].append(ms)
        taps["click"] += tapped
        game.wait_for_turn(2 - i % 2)
    back_to_menu(game)

    with Peer("master") as peer:
        begin(game, peer, Transcript(game), nick="bench")
        for i in range(rounds):
            mine, theirs = CELLS[2 * i], CELLS[2 * i + 1]
            box = in_window(game, cell_box(*mine))
            game.move_blind(*PARK)
            time.sleep(0.1)
            before = xi.region(game.window, box)
            start = time.perf_counter()
            peer.play(*mine)
            ms = xi.until_changed(game.window, box, before, start, 5.0)
            check(ms is not None, "the peer's move did not show within 5 s")
            got["move"].append(ms)
            game.click(*cell_centre(*theirs))
            peer.expect_move(*theirs)
        back_to_menu(game)

    for _ in range(rounds):
        host(game, "h5")
        game.move_blind(*PARK)
        time.sleep(0.1)
        ms, tapped = xi.press(xi.escape_key, game.window, in_window(game, NOTICE_BOX))
        got["escape"].append(ms)
        taps["escape"] += tapped
        game.wait_for_menu()

    # An older game may not answer some of these at all: its figure is then left out, and a
    # fresh start of the game goes on with the next.
    sections = [("connect", lambda: ([connect_back(xi, game) for _ in range(rounds)], 0)),
                ("left", lambda: ([master_leaves(xi, game) for _ in range(rounds)], 0)),
                ("key", lambda: keys_under_load(xi, game, rounds))]
    for what, measure in sections:
        try:
            got[what], tapped = measure()
            if what in taps:
                taps[what] = tapped
        except AssertionError as e:
            print(f"  {subject.name:>12}  {what}: not measured ({e})", flush=True)
            del got[what]
            game.stop()
            game = subject.start()
            game.wait_for_menu()
    game.stop()
    return got, taps


def changed_at(xi, window, box, timeout):
    """The perf_counter time at which the box next changes; fails after timeout."""
    before = xi.region(window, box)
    start = time.perf_counter()
    ms = xi.until_changed(window, box, before, start, timeout)
    check(ms is not None, f"nothing changed in {box} within {timeout:g} s")
    return start + ms / 1000


def connect_back(xi, game):
    """The program as master: ms from its connect back to the slave's completing (the slave's
    accept returning) to the game's first frame."""
    with Peer("slave") as peer:
        host(game, "h5")
        game.move_blind(*PARK)
        peer.listen()
        subprocess.run(["nft", "-f", "-"], check=True, text=True,
                       input="table ip slow {\nchain in {\ntype filter hook input priority 0\n"
                             "tcp dport 31212 tcp flags & (syn | ack) == syn drop\n}\n}\n")
        accepted = []
        taker = threading.Thread(target=lambda: accepted.append((peer.accept(),
                                                                 time.perf_counter())))
        try:
            peer.connect()
            peer.send(nick_message("bench"))
            taker.start()
            # The first try is dropped; the system tries again about a second later.
            time.sleep(0.3)
        finally:
            subprocess.run(["nft", "delete", "table", "ip", "slow"], check=True)
        shown = changed_at(xi, game.window, in_window(game, BOARD_BOX), 10.0)
        taker.join(10)
        check(accepted, "the program did not connect back")
        back_to_menu(game)
    return (shown - accepted[0][1]) * 1000


def master_leaves(xi, game):
    """The program as slave, waiting for the master's connection back: ms from the master's
    close of the program's connection to the notice."""
    with Peer("master") as peer:
        peer.listen()
        join(game, LOOPBACK, "bench")
        peer.accept()
        peer.expect_nick("bench")
        wait_for_waiting(game)
        game.move_blind(*PARK)
        time.sleep(0.1)
        notice = in_window(game, NOTICE_BOX)
        before = xi.region(game.window, notice)
        start = time.perf_counter()
        peer.inbound.close()
        peer.inbound = None
        ms = xi.until_changed(game.window, notice, before, start, 5.0)
        check(ms is not None, "no notice within 5 s of the master's leaving")
        game.key("space", seen=lambda img: game.menu_shown(img, MAIN_MENU),
                 what="the main menu after the notice")
    return ms


def keys_under_load(xi, game, rounds):
    """[ms] from a 5 ms key at the nick prompt to the frame with its character, two busy loops
    running, and how many of the taps were taken."""
    game.choose("mi_net.tga")
    game.wait_for_menu(SUB_MENU, "the network sub-menu")
    game.choose("net_master.tga", SUB_MENU)
    game.move_blind(*PARK)
    game.wait_for_screen(lambda img: game.text_shown(img, PROMPT_X, PROMPT_Y, NICK_PROMPT,
                                                     PROMPT_ORANGE), "the nick prompt")
    x = PROMPT_X + game.harness.text_mask(NICK_PROMPT)[0]
    loops = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(2)]
    got, taken = [], 0
    try:
        for i in range(rounds):
            time.sleep(0.1)
            letter = "abcdefghijklmnopqrstuvwxyz"[i % 26]
            ms, tapped = xi.press(xi.letter_key(letter), game.window,
                                 in_window(game, (x + 8 * i, PROMPT_Y, 8, 8)))
            got.append(ms)
            taken += tapped
    finally:
        for loop in loops:
            loop.kill()
            loop.wait()
    game.key("Return")
    wait_for_waiting(game)
    back_to_menu(game)
    return got, taken


# ---- Report ----

def verdict(value, goal):
    return "met" if value <= goal else "MISSED"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", required=True)
    parser.add_argument("--text-mask", required=True)
    parser.add_argument("--bare")
    parser.add_argument("--game", action="append", default=[], metavar="NAME=EXE")
    parser.add_argument("--windows-bare")
    parser.add_argument("--windows-game", action="append", default=[], metavar="NAME=EXE")
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--scale", type=int, default=1)
    args = parser.parse_args()
    private_network("wait_bench", mount=True)

    print(f"Machine: {os.cpu_count()} CPUs, load average "
          f"{' '.join(open('/proc/loadavg').read().split()[:3])} at start")
    with Harness("wait_bench", None, os.path.abspath(args.data),
                 os.path.abspath(args.text_mask)) as h:
        hosts = os.path.join(h.scratch, "hosts")
        with open(hosts, "w", encoding="ascii") as f:
            f.write(HOSTS)
        subprocess.run(["mount", "--bind", hosts, "/etc/hosts"], check=True)
        subprocess.run(["nft", "-f", "-"], check=True, text=True,
                       input="table ip bench {\nchain in {\ntype filter hook input priority 0\n"
                             "ip daddr { 127.0.0.2, 127.0.0.3 } tcp dport 31211 drop\n}\n}\n")
        display = h.display((1024 * args.scale, 768 * args.scale))
        games = [linux_subject(h, display, name, os.path.abspath(exe), scale=args.scale)
                 for name, exe in (g.split("=", 1) for g in args.game)]
        if games:
            check(args.bare, "--bare names the bare program to measure beside the games")
            bare = linux_subject(h, display, "bare", os.path.abspath(args.bare), [h.data])
            print(f"\nShare of one core while waiting, {args.seconds:g} s per screen, Xvfb "
                  f"(goal: game and X server at most {GOAL_LINUX:g} % each)")
            figures, bare_figures = idle_figures(h, display, games, bare, args.seconds)
            report(figures, bare_figures, GOAL_LINUX, None)

        if args.windows_bare and args.windows_game:
            prefix = wine.prefix(h)
            # The first program of a prefix starts its services: not to be counted.
            warm = wine.WineProgram(h, display, prefix,
                                    wine.beside_pictures(h, os.path.abspath(args.windows_bare)))
            warm.wait_for_window()
            warm.stop()
            prefix.stop()
            wgames = [wine_subject(h, display, prefix, name, os.path.abspath(exe))
                      for name, exe in (g.split("=", 1) for g in args.windows_game)]
            wbare = wine_subject(h, display, prefix, "bare", os.path.abspath(args.windows_bare))
            print(f"\nUnder wine, every process of the prefix and its wineserver together "
                  f"(goal: at most the bare program and at most {GOAL_WINE:g} %)")
            figures, bare_figures = idle_figures(h, display, wgames, wbare, args.seconds)
            report(figures, bare_figures, GOAL_WINE, bare_figures[0])

        if not games:
            return
        print(f"\nLatency, median of {args.rounds} rounds (ms), 5 ms presses made with XTest")
        goals = {"click": GOAL_CLICK_MS, "move": GOAL_MOVE_MS, "escape": GOAL_ESCAPE_MS,
                 "connect": GOAL_CONNECT_MS, "left": GOAL_LEFT_MS, "key": GOAL_KEY_MS}
        texts = {"click": "click on a cell to the frame with the mark",
                 "move": "peer's move on the socket to the frame with it",
                 "escape": "Escape in the master's wait to the next screen",
                 "connect": "connect back completed to the game's frame",
                 "left": "master leaving the slave's wait to the notice",
                 "key": "key at a prompt, loaded, to the frame with it"}
        for subject in games:
            got, taps = latencies(display, subject, args.rounds)
            for what, ms in got.items():
                median = statistics.median(ms)
                tapped = (f"; 5 ms taps taken {taps[what]} of {len(ms)}" if what in taps
                          else "")
                print(f"  {subject.name:>12}  {texts[what]:<48} {median:7.1f}  (max "
                      f"{max(ms):6.1f}; goal {goals[what]:g}: {verdict(median, goals[what])}"
                      f"{tapped})", flush=True)


def report(figures, bare_figures, goal, bare_goal):
    game_bare, x_bare = bare_figures
    print(f"  {'bare program':>12}  {'(rests 5 ms between polls)':<28} game {game_bare:6.1f} %   "
          f"X server {x_bare:6.1f} %")
    for name, by_screen in figures.items():
        worst_game = max(g for g, _ in by_screen.values())
        worst_x = max(x for _, x in by_screen.values())
        limit = goal if bare_goal is None else min(goal, bare_goal)
        print(f"  {name}: worst screen game {worst_game:.1f} % ({verdict(worst_game, limit)}), "
              f"X server {worst_x:.1f} % ({verdict(worst_x, goal)})")


if __name__ == "__main__":
    main()
