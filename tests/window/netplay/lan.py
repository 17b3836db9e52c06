"""Machines on a LAN of the test's own: network namespaces joined by bridges in the private
network namespace the test runs in (harness.runner.private_network), which plays the switch. Each
machine is a namespace held open by a sleeping process; programs run in it through nsenter."""

import random
import socket
import struct
import subprocess
import sys
import threading

from harness.checks import WAIT, check
from harness.display import die_with_parent
from harness.geometry import BLACK, LAYOUT, SCREEN_H, SCREEN_W
from harness.program import Program
from .games import NetGame
from .peer import SLAVE_PORT, Board, data_message, nick_message
from .screens import ADDRESS_PROMPT, NICK_PROMPT, ORANGE, PROMPT_AT, answer, host, open_network_menu


def inside(machine):
    return ["nsenter", f"--net=/proc/{machine}/ns/net", "--"] if machine else []


def run(machine, *command, **kwargs):
    return subprocess.run([*inside(machine), *command], check=True, **kwargs)


def ip(*args, machine=None):
    run(machine, "ip", *args)


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
        holder = subprocess.Popen(["unshare", "--net", "sh", "-c", "echo; exec sleep infinity"],
                                  stdout=subprocess.PIPE)
        self.machines.append(holder)
        holder.stdout.readline()  # from inside the namespace
        pid = holder.pid
        ip("link", "set", "lo", "up", machine=pid)
        for n, address in enumerate(addresses):
            outside = f"v{len(self.machines)}n{n}"
            ip("link", "add", outside, "type", "veth", "peer", "name", f"eth{n}", "netns", str(pid))
            ip("link", "set", outside, "master", self.bridges[address.rsplit(".", 1)[0]], "up")
            ip("addr", "add", f"{address}/24", "brd", "+", "dev", f"eth{n}", machine=pid)
            ip("link", "set", f"eth{n}", "up", machine=pid)
        return pid

    def program(self, machine):
        """A program on `machine`; one behind a router (a default route) may ask it to forward
        its port, as no other test's program does."""
        display = self.h.display()
        env = dict(display.env)
        if run(machine, "ip", "route", "show", "default", capture_output=True).stdout:
            del env["FIVEINAROW_PORT_MAPPING"]
        return OnMachine(machine, self.h, display, self.h.workdir(), env)

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

LIST_X, ADDRESS_X, HEADING_Y = LAYOUT["ListX"], LAYOUT["ListAddressX"], LAYOUT["ListHeadingY"]
GREY = LAYOUT["ListGrey"]


def row_y(row):
    return LAYOUT["ListFirstRowY"] + row * LAYOUT["ListRowHeight"]


def shown(program, img, texts, top=0, bottom=SCREEN_H):
    """Whether the frame's rows from top to bottom show `texts` ((x, y, text, colour)) and black
    everywhere else (the arrow is the display's cursor here, never in a frame)."""
    rows = {y: bytearray(bytes(BLACK) * SCREEN_W) for y in range(top, bottom)}
    for x, y, text, colour in texts:
        width, mask = program.harness.text_mask(text)
        for j, bits in enumerate(mask):
            for i in range(width):
                if bits[i] == "1":
                    rows[y + j][3 * (x + i):3 * (x + i) + 3] = bytes(colour)
    return all(img.row(0, y, SCREEN_W) == want for y, want in rows.items())


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
    """`typed` in the address prompt's field."""
    x = PROMPT_AT[0] + program.harness.text_mask(ADDRESS_PROMPT)[0]
    return program.text_shown(img, x, PROMPT_AT[1], typed, LAYOUT["White"])


def check_list(program, rows, what, chosen=None, timeout=WAIT):
    program.wait_for_screen(lambda img: list_shown(program, img, rows, chosen), what,
                            timeout=timeout)


# ---- Steps ----

def to_prompt(slave):
    open_network_menu(slave, "net_slave.tga")
    slave.wait_for_screen(lambda img: slave.text_shown(img, *PROMPT_AT, ADDRESS_PROMPT, ORANGE),
                          "the address prompt")


def grey_line(program, text, y, what, timeout=WAIT):
    """`text` in grey, centred on the line at y, and nothing else in its rows."""
    x = SCREEN_W // 2 - program.harness.text_mask(text)[0] // 2
    program.wait_for_screen(lambda img: shown(program, img, [(x, y, text, GREY)], y, y + 8),
                            what, timeout=timeout)


def host_at(master, nick, addresses):
    """The master hosts and its waiting screen says where it may be joined."""
    host(master, nick)
    text = "Join at " + ", ".join(addresses)
    grey_line(master, text, LAYOUT["JoinAtY"], f"{text!r} on the master's waiting screen")


def click_row(slave, row):
    """A click on a row takes its address as Enter would: the nick is asked next."""
    slave.click(LIST_X + 4, row_y(row) + 4,
                lambda img: slave.text_shown(img, *PROMPT_AT, NICK_PROMPT, ORANGE),
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

def nft(machine, rules):
    run(machine, "nft", "-f", "-", text=True, input=rules)


def firewall(machine, *accepted):
    """Lets in only established traffic, loopback's, the game's TCP port and `accepted`."""
    rules = "".join(f"{rule} accept\n" for rule in ("tcp dport 31212", *accepted))
    nft(machine, "flush ruleset\ntable inet wall {\nchain in {\ntype filter hook input priority 0;"
        f" policy drop;\nct state established,related accept\niif lo accept\n{rules}}}\n}}\n")


def hold(machine, port):
    """Drops what `machine` forwards to TCP `port` until the returned function is called."""
    nft(machine, f"table ip hold {{\nchain held {{\ntype filter hook forward priority -10;\n"
        f"tcp dport {port} drop\n}}\n}}\n")
    return lambda: run(machine, "nft", "delete", "table", "ip", "hold")


class Stranger:
    """A machine that connects to the slave's port at `address` again and again until stopped,
    sending a nick and a board with a circle in the corner each time."""

    LOOP = ("import socket, sys, time\nwhile True:\n    try:\n"
            "        with socket.create_connection((sys.argv[1], int(sys.argv[2])), 0.2) as s:\n"
            "            print(flush=True)\n            s.sendall(bytes.fromhex(sys.argv[3]))\n"
            "    except OSError:\n        pass\n    time.sleep(0.005)\n")

    def __init__(self, h, machine, address):
        sent = nick_message("eve") + data_message(Board().mark(0, 0, 1).cells)
        self.proc = subprocess.Popen([*inside(machine), sys.executable, "-c", self.LOOP, address,
                                      str(SLAVE_PORT), sent.hex()], stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        h.cleanups.append(self.stop)

    def stop(self):
        """How many times it connected."""
        if self.proc.returncode is None:
            self.proc.kill()
            self.connects = self.proc.communicate()[0].count(b"\n")
        return self.connects


def count_replies(machine):
    """Counts the datagrams `machine` sends from the master's port, in all and to the flood's one
    asker (see replies_sent)."""
    nft(machine, "table inet count {\nchain out {\ntype filter hook output priority 0;\n"
        "udp sport 31211 counter\nip daddr 10.7.0.254 udp sport 31211 udp dport 40000 counter\n"
        "}\n}\n")


def replies_sent(machine):
    out = run(machine, "nft", "list", "table", "inet", "count", capture_output=True,
              text=True).stdout
    return [int(part.split()[0]) for part in out.split("packets ")[1:]]


def datagram(kind, token, hosting, nick=b""):
    """A discovery datagram as the game builds it."""
    body = b"5iaR" + bytes([1, kind]) + struct.pack(">II", token, hosting) + bytes([len(nick)])
    return body + nick + bytes(32 - len(body) - len(nick))


QUERY, REPLY, ANNOUNCEMENT = 1, 2, 3


class Flood(threading.Thread):
    """Hostile datagrams from the switch at a master and a slave, some 300 rounds a second until
    stopped; each round asks the master once as one sender, 10.7.0.254:40000."""

    def __init__(self, master, slave):
        super().__init__()
        self.master, self.slave, self.rounds, self.error = master, slave, 0, None
        self.stopped = threading.Event()
        self.start()

    def run(self):
        rng, m, s, switch = random.Random(7), self.master, self.slave, "10.7.0.254"
        try:
            with socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW) as raw:
                while not self.stopped.wait(1 / 300):
                    n = self.rounds = self.rounds + 1
                    for source, sport, target, payload in (
                            (switch, 40000, m, datagram(QUERY, 99, 0)),
                            # Random bytes, an oversized query, one from a privileged port.
                            (switch, 40001, m, rng.randbytes(rng.randrange(1, 64))),
                            (switch, 40001, m, datagram(QUERY, 5, 0) + bytes(1400)),
                            (switch, 53, m, datagram(QUERY, 5, 0)),
                            # Valid queries from many made-up senders: held by the limit in all.
                            (f"10.7.0.{100 + n % 100}", 40002, m, datagram(QUERY, n, 0)),
                            # At the slave: a reply to another search, a master off its networks.
                            (switch, 31211, s, datagram(REPLY, n, 77, b"trudy")),
                            ("192.168.99.9", 31211, s, datagram(ANNOUNCEMENT, 0, 78, b"mallory")),
                            (switch, 31211, s, rng.randbytes(rng.randrange(1, 1400)))):
                        udp = struct.pack("!HHHH", sport, 31211 if target == m else 31212,
                                          8 + len(payload), 0) + payload
                        # The kernel fills in the IP checksum; a UDP checksum of 0 is none.
                        raw.sendto(struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64,
                                               17, 0, socket.inet_aton(source),
                                               socket.inet_aton(target)) + udp, (target, 0))
        except OSError as e:
            self.error = e

    def stop(self):
        self.stopped.set()
        self.join()
        check(self.error is None, f"the flood failed: {self.error}")
