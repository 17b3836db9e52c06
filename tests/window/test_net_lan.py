"""The games hosted on the network, listed at the slave's address prompt: machines of the test's
own on bridges (netplay/lan.py), each program in its own; two walks (--case listed, hostile).
With nothing hosted the prompt is today's; a master on two networks that starts to host is listed
with its nick and each network's address on that network, and its waiting screen says where it
may be joined; a click on its row joins it, and once joined it is listed no more; Down and Enter
join it from the other network, and a typed address still joins. A slave behind a firewall
that lets in only established traffic lists nothing while UDP 31212 is closed, and the master
once it is open; a flood of junk, spoofed and foreign datagrams at both sides leaves the list the
real master's, the keys taken and the master's replies within their limits, and the game then
plays."""

import time

from harness.checks import WAIT, check
from harness.runner import main
from netplay.lan import (Flood, Lan, bare_prompt_shown, check_list, click_row, count_replies,
                         firewall, host_at, joined, list_shown, play_and_end, replies_sent,
                         texts_shown, to_address_prompt)
from netplay.screens import ADDRESS_PROMPT, ORANGE, PROMPT_AT


def field_shown(program, img, typed):
    """The address prompt with `typed` in its field."""
    return texts_shown(program, img, PROMPT_AT[1], [
        (PROMPT_AT[0], ADDRESS_PROMPT, ORANGE),
        (PROMPT_AT[0] + program.harness.text_mask(ADDRESS_PROMPT)[0], typed, (255, 255, 255))])


def listed(h):
    """Three slaves and a master on two networks: the slave at 10.8.0.5 is on the second one."""
    lan = Lan(h, "10.7.0", "10.8.0")
    master = lan.program(lan.machine("10.7.0.1", "10.8.0.1"))
    slave, other, far = (lan.program(lan.machine(a)) for a in ("10.7.0.2", "10.7.0.3", "10.8.0.5"))
    for program in (master, slave, other, far):
        program.wait_for_menu()

    to_address_prompt(slave)
    slave.expect_steady(lambda img: bare_prompt_shown(slave, img, ADDRESS_PROMPT),
                        "the address prompt with nothing hosted, as it always was")
    to_address_prompt(far)

    host_at(master, "alice", ["10.7.0.1", "10.8.0.1"])
    alice, alice_far = [("alice", "10.7.0.1")], [("alice", "10.8.0.1")]
    check_list(slave, alice, "the master listed on an open prompt", timeout=WAIT)
    check_list(far, alice_far, "the master listed on its second network", timeout=WAIT)
    to_address_prompt(other)
    check_list(other, alice, "the master listed on a prompt opened after", timeout=WAIT)

    click_row(slave, 0)
    game = joined(master, slave, "bert")
    # Joined: the master answers no more, and its word that it is gone clears the lists.
    for program in (other, far):
        program.wait_for_screen(lambda img, p=program: bare_prompt_shown(p, img, ADDRESS_PROMPT),
                                "the other slaves' lists empty once the master has been joined")
    game.play([(7, 7), (8, 8)])
    game.escape(1)

    # Down chooses the row and puts its address in the field; Enter takes it.
    host_at(master, "alice", ["10.7.0.1", "10.8.0.1"])
    check_list(far, alice_far, "the master listed again on its second network", timeout=WAIT)
    far.key("Down", lambda img: field_shown(far, img, "10.8.0.1"),
            "the chosen address in the field")
    check_list(far, alice_far, "the chosen row in white", chosen=0, timeout=WAIT)
    far.key("Return")
    play_and_end(master, far, "emil")

    # Typing works as it always did, beside the list.
    host_at(master, "alice", ["10.7.0.1", "10.8.0.1"])
    check_list(other, alice, "the master listed again", timeout=WAIT)
    other.type_text("10.7.0.1")
    other.key("Return")
    play_and_end(master, other, "carl")


def hostile(h):
    lan = Lan(h, "10.7.0")
    at_master, at_slave = lan.machine("10.7.0.1"), lan.machine("10.7.0.2")
    master, slave = lan.program(at_master), lan.program(at_slave)
    # Established traffic only: the answers to the slave's broadcast queries are none.
    firewall(lan, at_slave)
    count_replies(lan, at_master)
    for program in (master, slave):
        program.wait_for_menu()
    host_at(master, "gina", ["10.7.0.1"])
    to_address_prompt(slave)
    # The queries at 0, 1 and 3 s go unanswered.
    slave.expect_steady(lambda img: bare_prompt_shown(slave, img, ADDRESS_PROMPT),
                        "nothing listed with UDP 31212 closed", duration=4)
    # The slave asks from 31212: opened, the answers to its next query come in.
    firewall(lan, at_slave, "udp dport 31212")
    gina = [("gina", "10.7.0.1")]
    check_list(slave, gina, "the master listed once UDP 31212 is open", timeout=WAIT)

    replies = replies_sent(lan, at_master)
    flood = Flood("10.7.0.1", "10.7.0.2")
    started = time.monotonic()
    try:
        # Keys are taken and the list stays the real master's alone.
        slave.type_text("10.7.0.1")
        slave.wait_for_screen(lambda img: field_shown(slave, img, "10.7.0.1")
                              and list_shown(slave, img, gina), "typing during the flood")
        slave.expect_steady(lambda img: list_shown(slave, img, gina), "the list in the flood",
                            duration=2)
    finally:
        flood.stop()
    seconds = time.monotonic() - started
    sent = replies_sent(lan, at_master) - replies
    check(flood.sent > 100 * seconds, f"the flood sent only {flood.sent} rounds")
    check(2 <= flood.answers <= 5 * seconds + 6,
          f"one sender got {flood.answers} replies in {seconds:.1f} s")
    check(sent <= 50 * seconds + 51, f"the master sent {sent} replies in {seconds:.1f} s")
    slave.key("Return")
    play_and_end(master, slave, "hugo")


CASES = {"listed": listed, "hostile": hostile}

if __name__ == "__main__":
    main("net_lan", lambda h, case: case(h), mount=True, cases=CASES)
