"""How a window test fails: its checks, and the deadlines every wait has."""

import time


# How long a single wait may take before the test fails. Generous: the machine may be busy with
# other tests, and a passing wait returns as soon as its condition holds.
WAIT = 10.0
# How long something must stay unchanged to count as "nothing happened". The program is woken by
# every input and redraws within milliseconds, so it has long reacted by then.
QUIET = 0.4


class Failure(AssertionError):
    """A check of a window test that did not hold."""


class NotEnlarged(Failure):
    """A window that should show the frame enlarged shows something else: no waiting helps."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def poll(timeout, what, step=0.02):
    """Yields 0, 1, 2, ... until the caller breaks out; fails the test once `timeout` seconds
    have passed."""
    end = time.monotonic() + timeout
    attempt = 0
    while True:
        yield attempt
        attempt += 1
        if time.monotonic() > end:
            raise Failure(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(step)
