"""The games hosted on the network, listed at the slave's address prompt, each program on a
machine of its own (netplay/lan.py); two walks (--case listed, hostile)."""

import time

from harness.checks import check
from harness.runner import main
from netplay.lan import (Flood, Lan, bare_prompt_shown, check_list, click_row, count_replies,
                         field_shown, firewall, host_at, joined, list_shown, play_and_end,
                         replies_sent, to_prompt)


def listed(h):
    """A master on two networks, listed on each with its address there and joined by a click and
    by Down and Enter; once joined, listed no more (a typed address joins in the hostile walk)."""
    lan = Lan(h, "10.7.0", "10.8.0")
    master = lan.program(lan.machine("10.7.0.1", "10.8.0.1"))
    slave, other, far = (lan.program(lan.machine(a)) for a in ("10.7.0.2", "10.7.0.3", "10.8.0.5"))
    for program in (master, slave, other, far):
        program.wait_for_menu()

    to_prompt(slave)
    slave.expect_steady(lambda img: bare_prompt_shown(slave, img),
                        "the address prompt with nothing hosted, as it always was")
    to_prompt(far)
    host_at(master, "alice", ["10.7.0.1", "10.8.0.1"])
    alice, alice_far = [("alice", "10.7.0.1")], [("alice", "10.8.0.1")]
    check_list(slave, alice, "the master listed on an open prompt")
    check_list(far, alice_far, "the master listed on its second network")
    to_prompt(other)
    check_list(other, alice, "the master listed on a prompt opened after")

    click_row(slave, 0)
    game = joined(master, slave, "bert")
    for program in (other, far):
        program.wait_for_screen(lambda img, p=program: bare_prompt_shown(p, img),
                                "the other slaves' lists empty once the master has been joined")
    game.play([(7, 7), (8, 8)])
    game.escape(1)

    host_at(master, "alice", ["10.7.0.1", "10.8.0.1"])
    check_list(far, alice_far, "the master listed again on its second network")
    far.key("Down", lambda img: field_shown(far, img, "10.8.0.1"),
            "the chosen address in the field")
    check_list(far, alice_far, "the chosen row in white", chosen=0)
    far.key("Return")
    play_and_end(master, far, "emil")


def hostile(h):
    """A slave behind a firewall that lets in only established traffic; a flood at both sides."""
    lan = Lan(h, "10.7.0")
    at_master, at_slave = lan.machine("10.7.0.1"), lan.machine("10.7.0.2")
    master, slave = lan.program(at_master), lan.program(at_slave)
    firewall(at_slave)
    count_replies(at_master)
    for program in (master, slave):
        program.wait_for_menu()
    host_at(master, "gina", ["10.7.0.1"])
    to_prompt(slave)
    # The queries at 0, 1 and 3 s go unanswered.
    slave.expect_steady(lambda img: bare_prompt_shown(slave, img),
                        "nothing listed with UDP 31212 closed", duration=4)
    firewall(at_slave, "udp dport 31212")
    gina = [("gina", "10.7.0.1")]
    check_list(slave, gina, "the master listed once UDP 31212 is open")

    before = replies_sent(at_master)
    flood = Flood("10.7.0.1", "10.7.0.2")
    started = time.monotonic()
    try:
        slave.type_text("10.7.0.1")
        slave.wait_for_screen(lambda img: field_shown(slave, img, "10.7.0.1")
                              and list_shown(slave, img, gina), "typing during the flood")
        slave.expect_steady(lambda img: list_shown(slave, img, gina), "the list in the flood",
                            duration=2)
    finally:
        flood.stop()
    seconds = time.monotonic() - started
    sent, answers = (now - then for now, then in zip(replies_sent(at_master), before))
    check(flood.rounds > 100 * seconds, f"the flood sent only {flood.rounds} rounds")
    check(2 <= answers <= 5 * seconds + 6, f"one sender got {answers} replies in {seconds:.1f} s")
    check(sent <= 50 * seconds + 51, f"the master sent {sent} replies in {seconds:.1f} s")
    slave.key("Return")
    play_and_end(master, slave, "hugo")


if __name__ == "__main__":
    main("net_lan", lambda h, case: case(h), mount=True,
         cases={"listed": listed, "hostile": hostile})
