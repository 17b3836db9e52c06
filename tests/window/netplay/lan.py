"""Machines on a LAN of the test's own: network namespaces joined by bridges in the private
network namespace the test runs in (harness.runner.private_network), which plays the switch. Each
machine is a namespace held open by a sleeping process; programs run in it through nsenter."""

import random
import socket
import struct
import subprocess
import threading
import time

from harness.checks import WAIT, check
from harness.geometry import BLACK, LAYOUT, SCREEN_H, SCREEN_W, SUB_MENU
from harness.program import Program
from .games import NetGame
from .screens import ADDRESS_PROMPT, NICK_PROMPT, ORANGE, PROMPT_AT, answer, wait_for_waiting


def inside(machine):
    return ["nsenter", f"--net=/proc/{machine}/ns/net", "--"] if machine else []


def ip(*args, machine=None):
    subprocess.run([*inside(machine), "ip", *args], check=True)


class Lan:
    """Bridges named by their subnet ("10.7.0"), the switch at .254 on each."""

    def __init__(self, h, *subnets):
        self.h, self.bridges, self.machines = h, {}, []
        h.cleanups.append(self.stop)
        # The machines reach the displays through their socket files (the abstract sockets stay
        # in the test's namespace), in a folder of the test's own where no other test's display
        # of the same number can take their place.
        check(not h.displays, "the LAN is made before the displays")
        subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=1777", "lan-x11", "/tmp/.X11-unix"],
                       check=True)
        for i, subnet in enumerate(subnets):
            self.bridges[subnet] = f"br{i}"
            ip("link", "add", f"br{i}", "type", "bridge")
            ip("addr", "add", f"{subnet}.254/24", "brd", "+", "dev", f"br{i}")
            ip("link", "set", f"br{i}", "up")

    def machine(self, *addresses):
        """A machine with a network card on the bridge of each address; returns its pid."""
        holder = subprocess.Popen(["unshare", "--net", "sleep", "infinity"])
        self.machines.append(holder)
        pid = holder.pid
        for _ in range(500):  # the namespace exists once the sleep runs in it
            if open(f"/proc/{pid}/cmdline", "rb").read().startswith(b"sleep"):
                break
            time.sleep(0.01)
        ip("link", "set", "lo", "up", machine=pid)
        for n, address in enumerate(addresses):
            outside = f"v{len(self.machines)}n{n}"
            ip("link", "add", outside, "type", "veth", "peer", "name", f"eth{n}", "netns", str(pid))
            ip("link", "set", outside, "master", self.bridges[address.rsplit(".", 1)[0]], "up")
            ip("addr", "add", f"{address}/24", "brd", "+", "dev", f"eth{n}", machine=pid)
            ip("link", "set", f"eth{n}", "up", machine=pid)
        return pid

    def program(self, machine):
        display = self.h.display()
        return OnMachine(machine, self.h, display, self.h.workdir(), dict(display.env))

    def run(self, machine, *command, **kwargs):
        return subprocess.run([*inside(machine), *command], check=True, **kwargs)

    def stop(self):
        for holder in self.machines:
            holder.kill()
            holder.wait()


class InMachine:
    """A Program (mixed in before it) started in a machine's namespace."""

    def __init__(self, machine, *args, **kwargs):
        self.machine = machine
        super().__init__(*args, **kwargs)

    def command(self):
        return [*inside(self.machine), *super().command()]


class OnMachine(InMachine, Program):
    pass


# ---- The list under the address prompt, and the master's addresses ----

LIST_X, ADDRESS_X, GREY = LAYOUT["ListX"], LAYOUT["ListAddressX"], LAYOUT["ListGrey"]
HEADING_Y = LAYOUT["ListHeadingY"]


def row_y(row):
    return LAYOUT["ListFirstRowY"] + row * LAYOUT["ListRowHeight"]


def shown(program, img, texts, top=0, bottom=SCREEN_H):
    """Whether the frame's rows from top to bottom show `texts` ((x, y, text, colour)) and black
    everywhere else but under the pointer."""
    rows = {y: bytearray(bytes(BLACK) * SCREEN_W) for y in range(top, bottom)}
    for x, y, text, colour in texts:
        width, mask = program.harness.text_mask(text)
        for j, bits in enumerate(mask):
            for i in range(width):
                if bits[i] == "1":
                    rows[y + j][3 * (x + i):3 * (x + i) + 3] = bytes(colour)
    pointer = set()
    if program.pointer_at is not None:
        pointer = {(program.pointer_at[0] + dx, program.pointer_at[1] + dy)
                   for dx, dy in program.harness.pointer_pixels}
    for y, want in rows.items():
        line = img.row(0, y, SCREEN_W)
        if line != want and any(line[3 * i:3 * i + 3] != want[3 * i:3 * i + 3]
                                and (i, y) not in pointer for i in range(SCREEN_W)):
            return False
    return True


def list_shown(program, img, rows, chosen=None):
    """The heading and exactly `rows` ((nick, address)) in order, `chosen` (a row) in white."""
    texts = [(LIST_X, HEADING_Y, "Games on this network:", ORANGE)]
    for n, (nick, address) in enumerate(rows):
        colour = LAYOUT["White"] if n == chosen else GREY
        texts += [(LIST_X, row_y(n), nick, colour), (ADDRESS_X, row_y(n), address, colour)]
    return shown(program, img, texts, HEADING_Y)


def bare_prompt_shown(program, img):
    """The address prompt as it was before games were listed."""
    return shown(program, img, [(*PROMPT_AT, ADDRESS_PROMPT, ORANGE)])


def field_shown(program, img, typed):
    """The address prompt's line with `typed` in its field."""
    x, y = PROMPT_AT
    return shown(program, img, [(x, y, ADDRESS_PROMPT, ORANGE),
                                (x + program.harness.text_mask(ADDRESS_PROMPT)[0], y, typed,
                                 LAYOUT["White"])], y, y + 8)


def check_list(program, rows, what, chosen=None, timeout=WAIT):
    program.wait_for_screen(lambda img: list_shown(program, img, rows, chosen), what,
                            timeout=timeout)


# ---- Steps ----

def click_until(program, x, y, seen, what):
    """A click at (x, y) that shows seen(screenshot); made again under wine, which may drop it."""
    if not hasattr(program, "click_at"):
        program.click(x, y, seen, what)
        return

    def taken():
        shot = program.try_screenshot(what)
        return shot is not None and seen(shot)

    program.click_at(x, y, taken=taken)


def prompt_shown(program, prompt):
    return lambda img: program.text_shown(img, *PROMPT_AT, prompt, ORANGE)


def to_prompt(program, side=ADDRESS_PROMPT):
    """From the main menu to the slave's address prompt, or (side=NICK_PROMPT) the master's."""
    click_until(program, *program.button_centre("mi_net.tga"),
                lambda img: program.menu_shown(img, SUB_MENU), "the network sub-menu")
    button = "net_slave.tga" if side == ADDRESS_PROMPT else "net_master.tga"
    click_until(program, *program.button_centre(button, SUB_MENU), prompt_shown(program, side),
                f"the prompt {side!r}")


def host_at(master, nick, addresses):
    """The master hosts and its waiting screen says where it may be joined."""
    to_prompt(master, NICK_PROMPT)
    answer(master, NICK_PROMPT, nick)
    wait_for_waiting(master)
    text = "Join at " + ", ".join(addresses)
    x = SCREEN_W // 2 - master.harness.text_mask(text)[0] // 2
    master.wait_for_screen(
        lambda img: shown(master, img, [(x, LAYOUT["JoinAtY"], text, GREY)], LAYOUT["JoinAtY"],
                          LAYOUT["JoinAtY"] + 8), f"{text!r} on the master's waiting screen")


def click_row(slave, row):
    """A click on a row takes its address as Enter would: the nick is asked next."""
    click_until(slave, LIST_X + 4, row_y(row) + 4, prompt_shown(slave, NICK_PROMPT),
                "the nick prompt after a click on a listed game")


def joined(master, slave, nick):
    answer(slave, NICK_PROMPT, nick)
    game = NetGame(master, slave)
    game.wait_for_turns()
    return game


def play_and_end(master, slave, nick):
    game = joined(master, slave, nick)
    game.play([(7, 7), (8, 8)])
    game.escape(1)


# ---- Firewalls and floods ----

def nft(lan, machine, rules):
    lan.run(machine, "nft", "-f", "-", text=True, input=rules)


def firewall(lan, machine, *accepted):
    """Lets in only established traffic, loopback's, the game's TCP port and `accepted`."""
    rules = "".join(f"{rule} accept\n" for rule in ("tcp dport 31212", *accepted))
    nft(lan, machine, "flush ruleset\ntable inet wall {\nchain in {\ntype filter hook input "
        f"priority 0; policy drop;\nct state established,related accept\niif lo accept\n{rules}}}\n}}\n")


def count_replies(lan, machine):
    """Counts the datagrams `machine` sends from the master's port (read by replies_sent)."""
    nft(lan, machine, "table inet count {\nchain out {\ntype filter hook output priority 0;\n"
        "udp sport 31211 counter\n}\n}\n")


def replies_sent(lan, machine):
    out = lan.run(machine, "nft", "list", "table", "inet", "count", capture_output=True,
                  text=True).stdout
    return int(out.split("packets ")[1].split()[0])


def datagram(kind, token, hosting, nick=b""):
    """A discovery datagram as the game builds it."""
    body = b"5iaR" + bytes([1, kind]) + struct.pack(">II", token, hosting) + bytes([len(nick)])
    return body + nick + bytes(32 - len(body) - len(nick))


QUERY, REPLY, ANNOUNCEMENT = 1, 2, 3


class Flood:
    """Hostile datagrams at a master and a slave from the switch, `rate` rounds a second, until
    stopped; meanwhile it asks the master itself as one sender and counts the answers."""

    def __init__(self, master, slave, rate=300):
        self.master, self.slave, self.rate = master, slave, rate
        self.answers, self.sent, self.running, self.error = 0, 0, True, None
        self.asker = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.asker.bind(("0.0.0.0", 40000))
        self.asker.setblocking(False)
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def run(self):
        try:
            with socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW) as raw, \
                    socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as plain:
                plain.bind(("0.0.0.0", 31211))
                self.flood(raw, plain, random.Random(7))
        except OSError as e:
            self.error = e

    def flood(self, raw, plain, rng):
        def spoof(source, sport, target, payload):
            # The kernel fills in the IP header's checksum; a UDP checksum of 0 is none.
            dport = 31211 if target == self.master else 31212
            udp = struct.pack("!HHHH", sport, dport, 8 + len(payload), 0) + payload
            raw.sendto(struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0,
                                   socket.inet_aton(source), socket.inet_aton(target)) + udp,
                       (target, 0))

        while self.running:
            n = self.sent = self.sent + 1
            self.asker.sendto(datagram(QUERY, 99, 0), (self.master, 31211))
            # Random bytes, an oversized query, a query from a privileged port: dropped unanswered.
            spoof("10.7.0.254", 40001, self.master, rng.randbytes(rng.randrange(1, 64)))
            spoof("10.7.0.254", 40001, self.master, datagram(QUERY, 5, 0) + bytes(1400))
            spoof("10.7.0.254", 53, self.master, datagram(QUERY, 5, 0))
            # Valid queries from many made-up senders: only the limit in all holds them.
            spoof(f"10.7.0.{100 + n % 100}", 40002, self.master, datagram(QUERY, n, 0))
            # At the slave: a reply to another search, a master from off its networks, junk.
            plain.sendto(datagram(REPLY, n, 77, b"trudy"), (self.slave, 31212))
            spoof("192.168.99.9", 31211, self.slave, datagram(ANNOUNCEMENT, 0, 78, b"mallory"))
            spoof("10.7.0.254", 31211, self.slave, rng.randbytes(rng.randrange(1, 1400)))
            self.read_answers()
            time.sleep(1 / self.rate)

    def read_answers(self):
        while True:
            try:
                self.asker.recv(2048)
            except BlockingIOError:
                return
            self.answers += 1

    def stop(self):
        self.running = False
        self.thread.join()
        time.sleep(0.2)
        self.read_answers()
        self.asker.close()
        check(self.error is None, f"the flood failed: {self.error}")
