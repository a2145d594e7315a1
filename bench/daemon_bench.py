#!/usr/bin/python3
"""qz5d's running costs, measured in a private world (tools/emulator/world.py:
session bus, logind mock, qz5d on the emulated keyboard):

  download  the wall time of a full download (type-1 change with save of
            profile 2, a typical settings file) beyond the pauses the
            keyboard needs, as a fraction of those pauses;
  idle      the daemon's wake-ups per second (context switches of all its
            threads) over an idle stretch after the download, and its
            resident memory;
  latency   from a keyboard report written to the emulator's control FIFO
            to the relayed Notification signal arriving at a D-Bus client,
            idle and while full downloads run (reports at random moments
            across each download).

  bench/daemon_bench.py [--build DIR] [--reports N] [--downloads N]
                        [--idle SECONDS] [--busy-reports N] [--no-display]
                        [--user-manager]

The daemon shows the on-screen display for every report: on a private Xvfb,
or, with --no-display, nowhere (its helper finds no display and the daemon
waits 5 s before trying again). With --user-manager, a user service manager
(the tests' dbusmock template) holds the session's environment and starts
the helper: every code then asks it and logind for the session. Prints
figures; never run as a test."""

import argparse
import glob
import math
import os
import statistics
import random
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True

p = argparse.ArgumentParser(usage=__doc__.split("\n\n")[1].strip())
p.add_argument("--build", default=os.path.join(ROOT, "build/plain"))
p.add_argument("--reports", type=int, default=1000)
p.add_argument("--downloads", type=int, default=3)
p.add_argument("--idle", type=float, default=10.0)
p.add_argument("--busy-reports", type=int, default=200)
p.add_argument("--no-display", action="store_true")
p.add_argument("--user-manager", action="store_true")
ARGS = p.parse_args()
os.environ["QZ5_BUILD"] = os.path.abspath(ARGS.build)
sys.path.insert(0, os.path.join(ROOT, "tools/emulator"))

from gi.repository import Gio, GLib  # noqa: E402
from world import World, wait_for  # noqa: E402

IFACE, PATH = "org.qz5d.Notifications1", "/org/qz5d/Notifications1"
MARK = "40 14 ff 7f 00 00 00 00"  # selects profile 0x7ffe + 1: nothing else sends it
COMMAND_PAUSE_MS = 500  # after every request
LIGHT_PAUSE_MS = 200    # more after each light zone


class Client:
    """A session-bus client that posts notifications and times the ones it receives."""

    def __init__(self, address):
        flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
        self.bus = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
        self.received = []  # (time, object, userInfo)
        self.bus.signal_subscribe(None, IFACE, "Notification", PATH, None, Gio.DBusSignalFlags.NONE,
                                  self._on_signal)
        self.context = GLib.MainContext.default()

    def _on_signal(self, _bus, _sender, _path, _iface, _member, params):
        self.received.append((time.perf_counter(), params[1], params[2]))

    def post(self, name, obj, **info):
        body = GLib.Variant("(ssa{sv})", (name, obj, {k: GLib.Variant("i", v) for k, v in info.items()}))
        self.bus.emit_signal(None, PATH, IFACE, "Notification", body)
        self.bus.flush_sync(None)

    def wait(self, start, obj, timeout=10.0):
        """Runs the main context until a notification of obj arrives after the
        first start received (this client also receives its own posts)."""
        expired = []
        source = GLib.timeout_add(int(timeout * 1000), lambda: expired.append(True) or False)
        while not expired:
            found = next((r for r in self.received[start:] if r[1] == obj), None)
            if found:
                GLib.source_remove(source)
                return found
            self.context.iteration(True)
        raise AssertionError(f"no {obj} notification within {timeout} s")


def switches(pid):
    """Voluntary plus involuntary context switches of each of the process's threads, by thread."""
    counts = {}
    for task in glob.glob(f"/proc/{pid}/task/*"):
        try:
            with open(f"{task}/status") as f:
                status = dict(line.split(":", 1) for line in f)
        except FileNotFoundError:
            continue  # a thread that just ended
        name = f"{status['Name'].strip()} ({os.path.basename(task)})"
        counts[name] = int(status["voluntary_ctxt_switches"]) + int(status["nonvoluntary_ctxt_switches"])
    return counts


def status_kib(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def pauses_ms(lines):
    """The pauses the daemon makes for these requests of a full download, as
    the keyboard code makes them: 500 ms before the download, 500 ms after
    every request, 200 ms more after each light zone, and after each macro
    data block (its length / 512 * 500 + 500) microseconds more."""
    total = COMMAND_PAUSE_MS
    for line in lines:
        setup = bytes.fromhex(line.split(" : ")[0])
        total += COMMAND_PAUSE_MS
        if setup[1] == 0x31:
            total += LIGHT_PAUSE_MS
        elif setup[1] == 0x12:
            length = setup[6] | setup[7] << 8
            total += (length // 512 * 500 + 500) / 1000
    return total


def settle(w, client):
    """Returns once the daemon is back in its main loop: a status question is
    answered only then."""
    n = len(client.received)
    client.post("PellQZ5Check", "GetDeviceStatue")
    client.wait(n, "RecDeviceStatue", timeout=60)


def bench_download(w, client):
    results = []
    settle(w, client)  # the reset's pause is over
    for _ in range(ARGS.downloads):
        start = len(w.requests())
        t0 = time.perf_counter()
        client.post("PellQZ5", "QZ5SettingChange", QZ5SettingChangeType=1, ProfileNumber=1, isSave=1)
        client.post("PellQZ5", "QZ5SettingChange", QZ5SettingChangeType=2, ProfileNumber=0x7FFE)
        seen, arrivals = start, []  # arrival time of each request line
        deadline = t0 + 120
        while True:
            now = w.requests()
            if len(now) > seen:
                arrivals += [time.perf_counter()] * (len(now) - seen)
                seen = len(now)
                if now[-1] == MARK:
                    break
            elif time.perf_counter() > deadline:
                raise AssertionError("the download did not end within 120 s")
            else:
                time.sleep(0.0005)
        lines = w.requests()[start:-1]
        wall = (arrivals[-1] - t0) * 1000
        pause = pauses_ms(lines)
        # Each request's own cost: the time since the one before less the pause between.
        costs, before = [], t0
        for i, t in enumerate(arrivals):
            between = pauses_ms(lines[i - 1:i]) - COMMAND_PAUSE_MS if i else COMMAND_PAUSE_MS
            costs.append((t - before) * 1000 - between)
            before = t
        results.append((wall, pause, len(lines), costs))
        settle(w, client)
    return results


def bench_idle(w, client, pid):
    settle(w, client)
    before, t0 = switches(pid), time.monotonic()
    time.sleep(ARGS.idle)  # the measured stretch itself, not a wait for the daemon
    after, t1 = switches(pid), time.monotonic()
    woke = {name: n - before.get(name, 0) for name, n in after.items() if n != before.get(name, 0)}
    # A thread that ended woke at least once to end; its last count is gone with it.
    woke.update({f"{name}, ended": 1 for name in before if name not in after})
    return sum(woke.values()) / (t1 - t0), woke, status_kib(pid, "VmRSS"), status_kib(pid, "VmHWM"), len(after)


def bench_latency(w, client):
    fifo = os.open(w.fifo, os.O_WRONLY)
    latencies = []
    try:
        for i in range(ARGS.reports):
            n = len(client.received)
            mode = i % 2  # lighting keys 0 and 1 alternately
            line = f"report 8 00 00 {0xFA + mode:02x} 00 00 00 00 00\n".encode()
            t0 = time.perf_counter()
            os.write(fifo, line)
            t1, _, info = client.wait(n, "QZ5LightModeChange")
            if info.get("QZ5LightModeNumber") != mode:
                raise AssertionError(f"unexpected notification {info}")
            latencies.append((t1 - t0) * 1000)
    finally:
        os.close(fifo)
    return latencies


def bench_busy_latency(w, client, duration_ms):
    """Lighting-key reports written at random moments across full downloads
    (20 a download); each relay is matched to its report by order, as the
    daemon relays in the order the reports arrive."""
    rng = random.Random(23)
    latencies, per_download = [], 20
    fifo = os.open(w.fifo, os.O_WRONLY)
    try:
        left = ARGS.busy_reports
        while left > 0:
            k = min(per_download, left)
            left -= k
            settle(w, client)
            offsets = sorted(rng.uniform(0.02, duration_ms / 1000 - 0.05) for _ in range(k))
            start, first = len(w.requests()), len(client.received)
            sent = []
            t0 = time.perf_counter()
            client.post("PellQZ5", "QZ5SettingChange", QZ5SettingChangeType=1, ProfileNumber=1, isSave=1)
            client.post("PellQZ5", "QZ5SettingChange", QZ5SettingChangeType=2, ProfileNumber=0x7FFE)

            def writer():
                for i, offset in enumerate(offsets):
                    delay = t0 + offset - time.perf_counter()
                    if delay > 0:
                        time.sleep(delay)  # the bench's own schedule of key presses
                    line = f"report 8 00 00 {0xFA + i % 2:02x} 00 00 00 00 00\n".encode()
                    sent.append(time.perf_counter())
                    os.write(fifo, line)
            thread = threading.Thread(target=writer)
            thread.start()
            deadline = time.perf_counter() + 60
            tick = GLib.timeout_add(5, lambda: True)  # wakes the loop below to look at the log
            while True:
                relays = [r for r in client.received[first:] if r[1] == "QZ5LightModeChange"]
                if len(relays) >= k and not thread.is_alive() and w.requests()[-1:] == [MARK]:
                    break
                if time.perf_counter() > deadline:
                    raise AssertionError("the download or the relays did not end within 60 s")
                client.context.iteration(True)
            GLib.source_remove(tick)
            thread.join()
            for i, (t, _, info) in enumerate(relays[:k]):
                if info.get("QZ5LightModeNumber") != i % 2:
                    raise AssertionError(f"relay {i} out of order: {info}")
                latencies.append((t - sent[i]) * 1000)
            if len(w.requests()) - start < 12:
                raise AssertionError("the download was not sent")
    finally:
        os.close(fifo)
    return latencies


def percentile(values, q):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(q * len(ordered)) - 1)]


def main():
    w = World()
    try:
        w.start_bus("session")
        w.start_logind()
        w.add_session("c1", os.getuid(), os.environ.get("USER", "root"))
        display = "none (the helper finds no display)"
        if not ARGS.no_display:
            display = f"Xvfb {w.start_display()}"
        if ARGS.user_manager:
            w.start_user_manager([f"{k}={w.env[k]}" for k in ("DISPLAY", "PATH") if k in w.env])
            display += ", user service manager"
        w.qz5ctl("settings", "init", w.settings, check=True)
        subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "bench/gen_settings.py"), "typical", w.settings],
                       check=True)
        w.start_daemon(["--profile", "1"])
        w.ready()
        pid = int(w.daemon_pid())
        client = Client(w.env["DBUS_SESSION_BUS_ADDRESS"])
        print(f"qz5d {os.path.join(ARGS.build, 'daemon/qz5d')} (pid {pid}) on the emulated keyboard; "
              f"on-screen display: {display}", flush=True)

        print(f"\n== full download of profile 2 with save, typical settings file, {ARGS.downloads} runs", flush=True)
        downloads = bench_download(w, client)
        for wall, pause, n, costs in downloads:
            print(f"  {n} requests: {wall:.1f} ms wall, {pause:.1f} ms of pauses, "
                  f"overhead {wall - pause:.1f} ms = {100 * (wall - pause) / pause:.2f}%; "
                  f"time each request adds: median {statistics.median(costs):.1f} ms, max {max(costs):.1f} ms")
        overhead = statistics.median(100 * (wall - pause) / pause for wall, pause, _, _ in downloads)

        print(f"\n== idle after the download, {ARGS.idle:g} s", flush=True)
        rate, woke, rss, hwm, threads = bench_idle(w, client, pid)
        print(f"  {rate:.2f} wake-ups/s over {threads} threads"
              + (" (" + ", ".join(f"{name}: {n}" for name, n in woke.items()) + ")" if woke else "")
              + f"; VmRSS {rss / 1024:.1f} MiB (peak {hwm / 1024:.1f} MiB)")

        print(f"\n== report -> relayed notification, {ARGS.reports} reports (lighting keys)", flush=True)
        latencies = bench_latency(w, client)
        median, p99 = statistics.median(latencies), percentile(latencies, 0.99)
        print(f"  median {median:.2f} ms, p99 {p99:.2f} ms, min {min(latencies):.2f} ms, max {max(latencies):.2f} ms")

        duration = statistics.median(wall for wall, _, _, _ in downloads)
        print(f"\n== report -> relayed notification during full downloads ({duration:.0f} ms each), "
              f"{ARGS.busy_reports} reports at random moments", flush=True)
        busy = bench_busy_latency(w, client, duration)
        busy_median, busy_p99 = statistics.median(busy), percentile(busy, 0.99)
        print(f"  median {busy_median:.2f} ms, p99 {busy_p99:.2f} ms, min {min(busy):.2f} ms, max {max(busy):.2f} ms")

        print("\ntargets:")
        for ok, text in ((overhead < 2, f"download overhead < 2% of the pauses: {overhead:.2f}% (median)"),
                         (rate == 0, f"idle wake-ups 0/s: {rate:.2f}/s"),
                         (rss < 15 * 1024, f"idle VmRSS < 15 MiB: {rss / 1024:.1f} MiB"),
                         (median < 2, f"latency median < 2 ms: {median:.2f} ms"),
                         (p99 < 10, f"latency p99 < 10 ms: {p99:.2f} ms"),
                         (busy_p99 < 50, f"latency during a download p99 < 50 ms: {busy_p99:.2f} ms"),
                         (busy_median <= 3 * median,
                          f"latency during a download median <= 3x idle: {busy_median:.2f} ms")):
            print(f"  {'met   ' if ok else 'MISSED'} {text}")
        log = "\n".join(w.log_lines())
        if "runtime error" in log or "Sanitizer" in log:
            print("the daemon's log reports errors:\n" + log)
            return 1
        return 0
    finally:
        w.close()


if __name__ == "__main__":
    sys.exit(main())
