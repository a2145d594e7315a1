#!/usr/bin/python3
"""qz5-settings against qz5d on the emulated keyboard, on a private Xvfb:
  start       from starting the program to its window on the accessibility
              bus, and to the keyboard's status shown;
  relay       from the emulator's acknowledgement of a profile report (in
              the daemon's log) to the window showing that profile (seen
              through AT-SPI, polled every 5 ms: each figure includes up to
              one poll and one AT-SPI round trip);
  apply       from Apply and save to the completion shown, for one profile;
  memory      the window's resident memory after that.

  bench/settings_window_bench.py [--build DIR] [--reports N]"""

import argparse
import os
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True
p = argparse.ArgumentParser()
p.add_argument("--build", default=os.path.join(ROOT, "build/plain"))
p.add_argument("--reports", type=int, default=20)
args = p.parse_args()
os.environ["QZ5_BUILD"] = os.path.abspath(args.build)
sys.path.insert(0, os.path.join(ROOT, "tools/emulator"))

import world  # noqa: E402
from window_user import WindowUser  # noqa: E402


def ms(seconds):
    return f"{seconds * 1000:.0f} ms"


with world.World() as w:
    w.start_bus("session")
    w.start_logind()
    w.serve()
    started = time.monotonic()
    u = WindowUser(w)
    on_bus = time.monotonic()
    u.status("Keyboard present")
    shown = time.monotonic()
    print(f"start: on the accessibility bus after {ms(on_bus - started)}, status shown after {ms(shown - started)}")

    delays = []
    for i in range(args.reports):
        profile = i % 3 + 1
        w.emulator(f"report 8 00 00 f{profile} 00 00 00 00 00")
        sent = time.monotonic()
        world.wait_for(lambda: u.app.findChild(lambda n: n.roleName == "label" and
                                               n.name.startswith("Keyboard present · profile " + str(profile)),
                                               retry=False, requireResult=False), 10, "the profile shown", 0.005)
        delays.append(time.monotonic() - sent)
    delays.sort()
    print(f"relay: {len(delays)} profile reports to the window: median {ms(statistics.median(delays))}, "
          f"max {ms(delays[-1])}")

    u.click("Profile 2")
    u.click("CapsLock key")
    u.type_into(u.node("Key it produces", "entry"), "Escape")
    u.pending("2 key CapsLock Escape")
    clicked = time.monotonic()
    u.click("Apply and save")
    done = u.label(lambda n: n.startswith("Sending profile 2 to the keyboard and saving it: done"), "the completion", 60)
    print(f"apply: profile 2 sent and saved in {ms(time.monotonic() - clicked)}; the window says: {done}")
    pid = next(p.pid for p in w.procs if p.args[0].endswith("qz5-settings"))
    with open(f"/proc/{pid}/status") as f:
        rss = next(line.split()[1] for line in f if line.startswith("VmRSS"))
    print(f"memory: VmRSS {int(rss) / 1024:.1f} MiB")
