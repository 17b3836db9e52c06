"""Network faults made on purpose, as a switched-off machine, a pulled cable or a dropping firewall
makes them: nftables drops the game's packets in a private network namespace (with a private
/etc/hosts in a private mount namespace), where only loopback addresses exist.

- The slave joins a name whose look-up hangs, or an address that does not answer: it draws
  "Waiting for connection" meanwhile, and Escape brings the main menu back at once with its port
  free; left alone, the connect gives up after 10 s.
- The master connects back to a slave that does not answer (at the address the slave came from):
  Escape brings the main menu back at once with its port free.
- A name with two addresses whose first does not answer: the second is tried and the game starts.
- A peer that stays silent longer than keep-alive needs to notice a vanished one is not taken for
  dead; then every packet is dropped and both sides end their games as interrupted by themselves.

Prints how long each case took. A kernel that refuses the namespaces fails the test, saying so."""

import os
import subprocess
import sys
import time

from harness import MAIN_MENU, cell_centre, check, main, poll
from netplay import (LOCAL_TURN, MASTER_PORT, REMOTE_TURN, SLAVE_PORT, NetGame, dismiss, leave,
                     port_free, turn_shown, wait_for_waiting)
from peer import (WAITING, Peer, Transcript, escape_here, nick_message, notice_shown,
                  start_as_master, start_as_slave, wait_for_turn)

NAME = "net_faults"
TIMED_OUT = "ClinetSocket: Cannot connect to server - Connection timed out"
HOSTS = "127.0.0.1 localhost\n127.0.0.2 twohomed\n127.0.0.3 twohomed\n"
# A name server that never answers (its queries are dropped), asked once for 30 s.
RESOLV_CONF = "nameserver 127.0.0.53\noptions timeout:30 attempts:1\n"
GAME_PORTS = f"{{ {MASTER_PORT}, {SLAVE_PORT} }}"
# Keep-alive times for the programs (idle, interval, count), shortened unless given from outside.
KEEPALIVE = os.environ.setdefault("FIVEINAROW_KEEPALIVE", "2,1,3")
VANISHED_LIMIT = 60.0


def private_network():
    """Runs this test again in private network and mount namespaces, unless it runs there."""
    if os.environ.get("FIVEINAROW_PRIVATE_NETWORK") == "1":
        return
    probe = subprocess.run(["unshare", "--net", "--mount", "true"], capture_output=True,
                           text=True, check=False)
    if probe.returncode != 0:
        print(f"FAILED {NAME}: the kernel refused a private network or mount namespace "
              f"({probe.stderr.strip()})", file=sys.stderr)
        sys.exit(1)
    os.environ["FIVEINAROW_PRIVATE_NETWORK"] = "1"
    os.execvp("unshare", ["unshare", "--net", "--mount", sys.executable, "-B", *sys.argv])


def set_up_namespace(h):
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    for name, text in (("hosts", HOSTS), ("resolv.conf", RESOLV_CONF)):
        private = os.path.join(h.scratch, name)
        with open(private, "w", encoding="ascii") as f:
            f.write(text)
        # Without a resolv.conf the resolver asks loopback anyway.
        if name == "hosts" or os.path.exists("/etc/resolv.conf"):
            subprocess.run(["mount", "--bind", private, f"/etc/{name}"], check=True)


def drop(*rules):
    """From now on, packets that match any of `rules` (nftables matches) vanish unanswered. They
    are dropped as they arrive: dropped as they leave, they would fail the sender's call."""
    script = "flush ruleset\n"
    if rules:
        chain = "".join(f"{rule} drop\n" for rule in rules)
        script += ("table ip faults {\nchain in {\ntype filter hook input priority 0\n"
                   f"{chain}}}\n}}\n")
    subprocess.run(["nft", "-f", "-"], input=script, text=True, check=True)


def figure(what, seconds):
    print(f"figure: {what}: {seconds:.2f} s")


def escape_to_menu(game):
    """Escape while the set-up connects: returns how long the main menu took to show."""
    start = time.monotonic()
    game.display.xdotool("keydown", "Escape")
    try:
        game.wait_for_menu(MAIN_MENU, "the main menu after Escape")
    finally:
        game.display.xdotool("keyup", "Escape")
    return time.monotonic() - start


def unanswered_join(game, log):
    drop("ip daddr 127.0.0.2 tcp dport 31211", "udp dport 53")
    for address, what in (("hangs.test", "look-up"), ("127.0.0.2", "connect")):
        start_as_slave(game, "bert", address)
        wait_for_waiting(game)
        figure(f"slave's join, Escape in a hung {what} to the main menu", escape_to_menu(game))
        check(port_free(SLAVE_PORT), "the slave's port stayed taken after Escape")

    start_as_slave(game, "bert", "127.0.0.2")
    start = time.monotonic()
    game.wait_for_screen(lambda img: notice_shown(game, img, TIMED_OUT), repr(TIMED_OUT),
                         timeout=20)
    took = time.monotonic() - start
    figure("slave's join, connect time-out", took)
    check(took > 9, f"the connect gave up after {took:.1f} s, before its 10 s")
    dismiss(game)
    log.expect(out=["Choice: 1"] * 3)
    log.check()


def unanswered_connect_back(game, log):
    drop("ip daddr 127.0.0.2 tcp dport 31212")
    with Peer("slave", address="127.0.0.2") as peer:
        peer.listen()
        start_as_master(game)
        peer.connect()
        peer.send(nick_message("deaf"))
        game.wait_for_line("Listener: recieved message: type 0 size: 4", "stderr")
        game.expect_steady(lambda img: notice_shown(game, img, WAITING),
                           "'Waiting for connection' while connecting back")
        figure("master's connect back, Escape to the main menu", escape_to_menu(game))
        check(port_free(MASTER_PORT), "the master's port stayed taken after Escape")
        peer.expect_dropped()
    log.expect(out=["Choice: 1"])
    log.check()


def second_address(game, log):
    drop("ip daddr 127.0.0.2 tcp dport 31211")
    with Peer("master", timeout=30, address="127.0.0.3") as peer:
        peer.listen()
        start_as_slave(game, "bert", "twohomed")
        start = time.monotonic()
        peer.take_slave("bert")
        figure("join of a name whose first address does not answer", time.monotonic() - start)
        wait_for_turn(game, peer.board, local=False)
        log.expect(out=["Choice: 1"])
        escape_here(game, peer, log, out=["Local interrupt"])
    found = game.lines("stderr").count("Found host twohomed")
    check(found == 1, f"'Found host twohomed' written {found} times, not once")


def silent_then_vanished(h, master):
    drop()
    slave = h.program(h.display())
    slave.wait_for_menu()
    game = NetGame(master, slave)
    game.start()
    game.play([(7, 7), (8, 8)])

    idle, interval, count = (int(n) for n in KEEPALIVE.split(","))
    silence = 2 * (idle + interval * count)
    end = time.monotonic() + silence
    for _ in poll(silence + 10, f"{silence} s of silence"):
        for program, turn in ((master, LOCAL_TURN), (slave, REMOTE_TURN)):
            check(turn_shown(program, program.screenshot(), turn),
                  f"{turn[0]!r} gone after {silence - end + time.monotonic():.1f} s of silence")
        if time.monotonic() > end:
            break
    game.play([(9, 9)])

    drop(f"tcp dport {GAME_PORTS}", f"tcp sport {GAME_PORTS}")
    start = time.monotonic()
    # The slave's move goes out and is never acknowledged; the master waits for it.
    slave.click(*cell_centre(10, 10))
    noticed = {}
    for _ in poll(VANISHED_LIMIT, "both sides to end their games as interrupted"):
        for name, program in (("master", master), ("slave", slave)):
            shot = program.try_screenshot("the end screen")
            if name not in noticed and shot and program.end_screen_shown(shot, 0):
                noticed[name] = time.monotonic() - start
        if len(noticed) == 2:
            break
    for name, took in noticed.items():
        figure(f"vanished peer noticed by the {name}", took)
    for program in (master, slave):
        dismiss(program)
        leave(program)


def test(h):
    set_up_namespace(h)
    game = h.program(h.display())
    game.wait_for_menu()
    log = Transcript(game)
    unanswered_join(game, log)
    unanswered_connect_back(game, log)
    second_address(game, log)
    silent_then_vanished(h, game)


if __name__ == "__main__":
    private_network()
    main(NAME, test)
