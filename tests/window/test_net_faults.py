"""Network faults made on purpose, as a switched-off machine, a pulled cable or a dropping firewall
makes them: nftables drops the game's packets in a private network namespace (with a private
/etc/hosts in a private mount namespace), where only loopback addresses exist.

- The slave joins a name whose look-up hangs, or an address that does not answer: it draws
  "Waiting for connection" meanwhile, and Escape brings the main menu back at once with its port
  free; left alone, the connect gives up after 10 s.
- The master connects back to a slave that does not answer (at the address the slave came from):
  Escape brings the main menu back at once with its port free.
- A name that no name server answers for: the notice gives the resolver's reason.
- A name with two addresses whose first does not answer: the second is tried and the game starts.
- The network drops out for 30 s, and the master moves a second into it: its move is lost, and so
  is the retransmission at about 25 s. Neither side ends the game; the move arrives after the
  drop-out, and the game is played to a win.
- Then every packet is dropped for good while the slave's move is in flight: both sides end their
  games as interrupted by themselves within a minute.

The programs keep their own keep-alive times. Prints how long each case took. A kernel that
refuses the namespaces fails the test, saying so."""

import os
import subprocess
import time

from harness.checks import WAIT, check, poll
from harness.geometry import MAIN_MENU, PARK, cell_centre
from harness.runner import main
from netplay.games import NetGame, escape_here, wait_for_board
from netplay.peer import MASTER_PORT, SLAVE_PORT, Peer, nick_message, port_free
from netplay.screens import (LOCAL_TURN, REMOTE_TURN, WAITING, dismiss, host, join, leave,
                             net_programs, notice_shown, one_program, turn_shown, wait_for_waiting)

NAME = "net_faults"
TIMED_OUT = "ClinetSocket: Cannot connect to server - Connection timed out"
HOSTS = "127.0.0.1 localhost\n127.0.0.2 twohomed\n127.0.0.3 twohomed\n"
# A name server that never answers (its queries are dropped), asked once for 30 s.
RESOLV_CONF = "nameserver 127.0.0.53\noptions timeout:30 attempts:1\n"
GAME_PORTS = f"{{ {MASTER_PORT}, {SLAVE_PORT} }}"
# The drop-out and the vanished peer are measured against the programs' own keep-alive times.
os.environ.pop("FIVEINAROW_KEEPALIVE", None)
DROP_OUT = 30.0
VANISHED_LIMIT = 60.0
NO_NAME_SERVER = "ClinetSocket: Cannot connect to server - Temporary failure in name resolution"


def set_up_namespace(h):
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
        join(game, address, "bert")
        wait_for_waiting(game)
        figure(f"slave's join, Escape in a hung {what} to the main menu", escape_to_menu(game))
        check(port_free(SLAVE_PORT), "the slave's port stayed taken after Escape")

    join(game, "127.0.0.2", "bert")
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
        host(game)
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


def unknown_name(game, log):
    # The name server's port is closed: the resolver gets no answer at once.
    drop()
    join(game, "no-such-host.invalid", "bert")
    game.wait_for_screen(lambda img: notice_shown(game, img, NO_NAME_SERVER), repr(NO_NAME_SERVER))
    dismiss(game)
    log.expect(out=["Choice: 1"])
    log.check()
    tried = game.lines("stderr").count("Trying IP adrress no-such-host.invalid")
    check(tried == 1, f"'Trying IP adrress no-such-host.invalid' written {tried} times, not once")


def second_address(game, log):
    drop("ip daddr 127.0.0.2 tcp dport 31211")
    with Peer("master", timeout=30, address="127.0.0.3") as peer:
        peer.listen()
        join(game, "twohomed", "bert")
        start = time.monotonic()
        peer.take_slave("bert")
        figure("join of a name whose first address does not answer", time.monotonic() - start)
        wait_for_board(game, peer.board, local=False)
        log.expect(out=["Choice: 1"])
        escape_here(game, peer, log, out=["Local interrupt"])
    found = game.lines("stderr").count("Found host twohomed")
    check(found == 1, f"'Found host twohomed' written {found} times, not once")


def drop_everything():
    drop(f"tcp dport {GAME_PORTS}", f"tcp sport {GAME_PORTS}")


def hold_turns(turns, seconds, what):
    """Checks for `seconds` that each program of `turns` ({program: turn}) keeps showing it."""
    start = time.monotonic()
    for _ in poll(seconds + WAIT, what):
        elapsed = time.monotonic() - start
        for program, turn in turns.items():
            check(turn_shown(program, program.screenshot(), turn),
                  f"{turn[0]!r} gone after {elapsed:.1f} s of {what}")
        if elapsed > seconds:
            return


def drop_out_then_win(game):
    master, slave = game.master, game.slave
    game.start()
    game.play([(0, 0), (0, 5)])

    drop_everything()
    start = time.monotonic()
    hold_turns({master: LOCAL_TURN, slave: REMOTE_TURN}, 1, "the drop-out")
    master.click(*cell_centre(1, 0), seen=lambda img: turn_shown(master, img, REMOTE_TURN))
    game.moves.append((1, 0))
    master.move_blind(*PARK)
    hold_turns({master: REMOTE_TURN, slave: REMOTE_TURN}, DROP_OUT - (time.monotonic() - start),
               "the drop-out")
    drop()
    end = time.monotonic()
    slave.wait_for_screen(lambda img: turn_shown(slave, img, LOCAL_TURN),
                          "the master's move after the drop-out", timeout=VANISHED_LIMIT)
    figure(f"move made 1 s into a {DROP_OUT:.0f} s drop-out, come after its end",
           time.monotonic() - end)
    game.wait_for_turns()
    game.play([(1, 5), (2, 0), (2, 5), (3, 0), (3, 5)])
    game.win((4, 0), ((0, 0), (4, 0)))


def vanished(game):
    master, slave = game.master, game.slave
    game.start()
    game.play([(7, 7), (8, 8), (9, 9)])
    drop_everything()
    start = time.monotonic()
    # The slave's move goes out and is never acknowledged; the master waits for it.
    slave.click(*cell_centre(10, 10), seen=lambda img: turn_shown(slave, img, REMOTE_TURN))
    noticed = {}
    for _ in poll(VANISHED_LIMIT, "both sides to end their games as interrupted"):
        for name, program in (("master", master), ("slave", slave)):
            shot = program.try_screenshot("the end screen")
            if name not in noticed and shot and program.end_screen_shown(shot, 0):
                noticed[name] = time.monotonic() - start
        if len(noticed) == 2:
            break
    figure("vanished peer noticed by the master, waiting", noticed["master"])
    figure("vanished peer noticed by the slave, its move in flight", noticed["slave"])
    for program in (master, slave):
        dismiss(program)
        leave(program)


def test(h):
    set_up_namespace(h)
    game, log = one_program(h)
    unanswered_join(game, log)
    unanswered_connect_back(game, log)
    unknown_name(game, log)
    second_address(game, log)
    drop()
    (slave,) = net_programs(h, 1)
    drop_out_then_win(NetGame(game, slave))
    vanished(NetGame(game, slave))


if __name__ == "__main__":
    main(NAME, test, mount=True)
