"""What the on-screen display's test scripts share: named checks, counted as
they go, and waits with a deadline."""

import time

failures = 0


def check(name, ok, detail=""):
    global failures
    print(("ok: " if ok else "FAIL: ") + name + (f" ({detail})" if detail and not ok else ""), flush=True)
    failures += not ok


def wait_for(predicate, seconds, poll=0.05):
    """The predicate's first true value within the deadline, else its last value."""
    deadline = time.monotonic() + seconds
    while True:
        value = predicate()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(poll)
