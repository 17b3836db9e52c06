"""Machines on a LAN of the test's own: network namespaces joined by bridges, in the private
network namespace the test runs in (harness.runner.private_network), which plays the switch. Each
machine is a namespace held open by a sleeping process; programs run in it through nsenter, and
show their windows on the test's displays through the X socket files. Everything here is the
test's alone: no packet reaches this machine's own network."""

import random
import socket
import struct
import subprocess
import threading
import time

from harness.checks import check
from harness.geometry import BLACK, LAYOUT, SCREEN_W, SUB_MENU
from harness.program import Program
from .games import NetGame
from .screens import ADDRESS_PROMPT, NICK_PROMPT, ORANGE, PROMPT_AT, answer, wait_for_waiting


def ip(*args, netns=None):
    prefix = ["nsenter", f"--net=/proc/{netns}/ns/net", "--"] if netns else []
    subprocess.run([*prefix, "ip", *args], check=True)


class Lan:
    """Bridges named by their subnet's first three numbers ("10.7.0"): the switch's own address on
    each is .254. Stopped with the harness."""

    def __init__(self, h, *subnets):
        self.h, self.bridges, self.machines = h, {}, []
        h.cleanups.append(self.stop)
        # The machines reach the displays through their socket files, not through the abstract
        # sockets, which stay in the test's namespace: a folder of the test's own (in its private
        # mount namespace, before any display starts), where no other test's display of the same
        # number can take the place of its own.
        check(not h.displays, "the LAN is made before the displays")
        subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=1777", "lan-x11", "/tmp/.X11-unix"],
                       check=True)
        for i, subnet in enumerate(subnets):
            name = f"br{i}"
            ip("link", "add", name, "type", "bridge")
            ip("addr", "add", f"{subnet}.254/24", "brd", "+", "dev", name)
            ip("link", "set", name, "up")
            self.bridges[subnet] = name

    def machine(self, *addresses):
        """A machine with one network card on each bridge that `addresses` ("10.7.0.1", ...)
        name. Returns the pid that holds its namespace."""
        holder = subprocess.Popen(["unshare", "--net", "sleep", "infinity"])
        self.machines.append(holder)
        pid = holder.pid
        # The namespace exists once the sleep runs in it.
        for _ in range(500):
            if open(f"/proc/{pid}/cmdline", "rb").read().startswith(b"sleep"):
                break
            subprocess.run(["sleep", "0.01"], check=True)
        ip("link", "set", "lo", "up", netns=pid)
        for n, address in enumerate(addresses):
            outside = f"v{len(self.machines)}n{n}"
            ip("link", "add", outside, "type", "veth", "peer", "name", f"eth{n}", "netns",
               str(pid))
            ip("link", "set", outside, "master", self.bridges[address.rsplit(".", 1)[0]], "up")
            ip("addr", "add", f"{address}/24", "brd", "+", "dev", f"eth{n}", netns=pid)
            ip("link", "set", f"eth{n}", "up", netns=pid)
        return pid

    def program(self, machine, display=None):
        """The game on `machine`, shown on a display of its own (or `display`)."""
        display = display or self.h.display()
        return LanProgram(self.h, display, self.h.workdir(), dict(display.env), machine)

    def run(self, machine, *command, **kwargs):
        return subprocess.run(["nsenter", f"--net=/proc/{machine}/ns/net", "--", *command],
                              check=True, **kwargs)

    def stop(self):
        for holder in self.machines:
            holder.kill()
            holder.wait()


class LanProgram(Program):
    """The game started in a machine's namespace."""

    def __init__(self, harness, display, cwd, env, machine):
        self.machine = machine
        super().__init__(harness, display, cwd, env)

    def command(self):
        return ["nsenter", f"--net=/proc/{self.machine}/ns/net", "--", self.harness.exe]


# ---- The list under the address prompt, and the master's addresses ----

LIST_X, ADDRESS_X = LAYOUT["ListX"], LAYOUT["ListAddressX"]
HEADING_Y, FIRST_ROW_Y, ROW_H = LAYOUT["ListHeadingY"], LAYOUT["ListFirstRowY"], LAYOUT["ListRowHeight"]
HEADING = "Games on this network:"
GREY = LAYOUT["ListGrey"]


def texts_shown(program, img, y, texts):
    """Whether the 8 pixel rows from y show exactly `texts` ((x, text, colour), left to right)
    and black everywhere else."""
    want = {}
    for x, text, colour in texts:
        width, rows = program.harness.text_mask(text)
        for j, bits in enumerate(rows):
            for i in range(width):
                if bits[i] == "1":
                    want[(x + i, y + j)] = bytes(colour)
    for j in range(8):
        line = img.row(0, y + j, SCREEN_W)
        for i in range(SCREEN_W):
            if line[3 * i:3 * i + 3] != want.get((i, y + j), bytes(BLACK)):
                return False
    return True


def row_y(row):
    return FIRST_ROW_Y + row * ROW_H


def list_shown(program, img, rows, chosen=None):
    """The heading and exactly `rows` ((nick, address) pairs) in order, `chosen` (a row number)
    in white, nothing under them."""
    if not texts_shown(program, img, HEADING_Y, [(LIST_X, HEADING, LAYOUT["PromptOrange"])]):
        return False
    for n, (nick, address) in enumerate(rows):
        colour = LAYOUT["White"] if n == chosen else GREY
        if not texts_shown(program, img, row_y(n),
                           [(LIST_X, nick, colour), (ADDRESS_X, address, colour)]):
            return False
    return nothing_under(img, row_y(len(rows)), program)


def nothing_under(img, y, program=None, to=None):
    """Black from row y to the frame's bottom (or row `to`), but where the pointer is drawn."""
    skip = set()
    if program is not None and program.pointer_at is not None:
        px, py = program.pointer_at
        skip = {(px + dx, py + dy) for dx, dy in program.harness.pointer_pixels}
    for j in range(y, LAYOUT["ScreenH"] if to is None else to):
        line = img.row(0, j, SCREEN_W)
        for i in range(SCREEN_W):
            if (i, j) not in skip and line[3 * i:3 * i + 3] != bytes(BLACK):
                return False
    return True


def bare_prompt_shown(program, img, prompt, typed=""):
    """The prompt as it was before games were listed: `prompt` and `typed` on its line, black
    everywhere else but under the pointer."""
    x, y = PROMPT_AT
    width = program.harness.text_mask(prompt)[0]
    texts = [(x, prompt, LAYOUT["PromptOrange"])]
    if typed:
        texts.append((x + width, typed, LAYOUT["White"]))
    return (texts_shown(program, img, y, texts) and nothing_under(img, 0, program, to=y)
            and nothing_under(img, y + 8, program))


def join_at_shown(program, img, addresses):
    text = "Join at " + ", ".join(addresses)
    width = program.harness.text_mask(text)[0]
    return texts_shown(program, img, LAYOUT["JoinAtY"], [(SCREEN_W // 2 - width // 2, text, GREY)])


def check_list(program, rows, what, chosen=None, timeout=1.0):
    """The list shows `rows` within `timeout` seconds; returns how long it took."""
    start = time.monotonic()
    program.wait_for_screen(lambda img: list_shown(program, img, rows, chosen), what,
                            timeout=timeout)
    return time.monotonic() - start


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


def to_prompt(program, side, prompt):
    """From the main menu to the first prompt of `side` ("net_slave.tga" or "net_master.tga")."""
    click_until(program, *program.button_centre("mi_net.tga"),
                lambda img: program.menu_shown(img, SUB_MENU), "the network sub-menu")
    click_until(program, *program.button_centre(side, SUB_MENU), prompt_shown(program, prompt),
                f"the prompt {prompt!r}")


def to_address_prompt(program):
    to_prompt(program, "net_slave.tga", ADDRESS_PROMPT)


def host_at(master, nick, addresses):
    to_prompt(master, "net_master.tga", NICK_PROMPT)
    answer(master, NICK_PROMPT, nick)
    wait_for_waiting(master)
    master.wait_for_screen(lambda img: join_at_shown(master, img, addresses),
                           f"'Join at {addresses}' on the master's waiting screen")


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

def firewall(lan, machine, *accepted):
    """A firewall on `machine` that lets in only established traffic, loopback's and `accepted`
    (nft rules such as "udp dport 31212"); the game's TCP port always."""
    rules = "".join(f"{rule} accept\n" for rule in ("tcp dport 31212", *accepted))
    lan.run(machine, "nft", "-f", "-", text=True, input=(
        "flush ruleset\ntable inet wall {\nchain in {\n"
        "type filter hook input priority 0; policy drop;\n"
        f"ct state established,related accept\niif lo accept\n{rules}}}\n}}\n"))


def count_replies(lan, machine):
    """Counts the datagrams `machine` sends from the master's UDP port (see replies_sent)."""
    lan.run(machine, "nft", "-f", "-", text=True, input=(
        "table inet count {\nchain out {\ntype filter hook output priority 0;\n"
        "udp sport 31211 counter\n}\n}\n"))


def replies_sent(lan, machine):
    out = lan.run(machine, "nft", "list", "table", "inet", "count", capture_output=True,
                  text=True).stdout
    return int(out.split("packets ")[1].split()[0])


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack(f"!{len(data) // 2}H", data))
    while total >> 16:
        total = (total & 0xffff) + (total >> 16)
    return ~total & 0xffff


def spoofed(source, sport, target, dport, payload):
    """An IPv4 packet with a UDP datagram from any address (for a raw socket)."""
    udp = struct.pack("!HHHH", sport, dport, 8 + len(payload), 0) + payload
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0,
                         socket.inet_aton(source), socket.inet_aton(target))
    return header[:10] + struct.pack("!H", checksum(header)) + header[12:] + udp


def datagram(kind, token, hosting, nick=b""):
    """A discovery datagram as the game builds it (src/net_discovery.cpp)."""
    body = b"5iaR" + bytes([1, kind]) + struct.pack(">II", token, hosting)
    body += bytes([len(nick)]) + nick
    return body + bytes(32 - len(body))


QUERY, REPLY, ANNOUNCEMENT = 1, 2, 3


class Flood:
    """Hostile datagrams at a master and a slave from the switch, `rate` a second of each kind,
    until stopped; meanwhile it asks the master itself as one sender and counts the answers."""

    def __init__(self, master, slave, rate=300):
        self.master, self.slave, self.rate = master, slave, rate
        self.answers, self.sent, self.running, self.error = 0, 0, True, None
        self.asker = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.asker.bind(("0.0.0.0", 40000))
        self.asker.setblocking(False)
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def run(self):
        raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
        plain = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        plain.bind(("0.0.0.0", 31211))
        try:
            with raw, plain:
                self.flood(raw, plain, random.Random(7), 0)
        except OSError as e:
            self.error = e

    def flood(self, raw, plain, rng, n):
        while self.running:
            n = self.sent = n + 1
            self.asker.sendto(datagram(QUERY, 99, 0), (self.master, 31211))
            # Random bytes, an oversized query, a query from a privileged port: dropped unanswered.
            raw.sendto(spoofed("10.7.0.254", 40001, self.master, 31211,
                               rng.randbytes(rng.randrange(1, 64))), (self.master, 0))
            raw.sendto(spoofed("10.7.0.254", 40001, self.master, 31211,
                               datagram(QUERY, 5, 0) + bytes(1400)), (self.master, 0))
            raw.sendto(spoofed("10.7.0.254", 53, self.master, 31211, datagram(QUERY, 5, 0)),
                       (self.master, 0))
            # Valid queries from many made-up senders: only the limit in all holds them.
            raw.sendto(spoofed(f"10.7.0.{100 + n % 100}", 40002, self.master, 31211,
                               datagram(QUERY, n, 0)), (self.master, 0))
            # At the slave: a reply to another search, a master from off its networks, junk.
            plain.sendto(datagram(REPLY, n, 77, b"trudy"), (self.slave, 31212))
            raw.sendto(spoofed("192.168.99.9", 31211, self.slave, 31212,
                               datagram(ANNOUNCEMENT, 0, 78, b"mallory")), (self.slave, 0))
            raw.sendto(spoofed("10.7.0.254", 31211, self.slave, 31212,
                               rng.randbytes(rng.randrange(1, 1400))), (self.slave, 0))
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
