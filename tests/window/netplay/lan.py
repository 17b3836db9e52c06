"""Machines on a LAN of the test's own: network namespaces joined by bridges, in the private
network namespace the test runs in (harness.runner.private_network), which plays the switch. Each
machine is a namespace held open by a sleeping process; programs run in it through nsenter, and
show their windows on the test's displays through the X socket files. Everything here is the
test's alone: no packet reaches this machine's own network."""

import subprocess
import time

from harness.checks import check
from harness.geometry import BLACK, LAYOUT, SCREEN_W
from harness.program import Program
from .screens import PROMPT_AT


def ip(*args, netns=None):
    prefix = ["nsenter", f"--net=/proc/{netns}/ns/net", "--"] if netns else []
    subprocess.run([*prefix, "ip", *args], check=True)


class Lan:
    """Bridges named by their subnet's first three numbers ("10.7.0"): the switch's own address on
    each is .254. Stopped with the harness."""

    def __init__(self, h, *subnets):
        self.h, self.bridges, self.machines = h, {}, []
        h.cleanups.append(self.stop)
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
