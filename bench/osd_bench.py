#!/usr/bin/python3
"""From an OSD code posted to qz5d to the first pixel of the picture on the
screen, on each kind of desktop that runs here, through the daemon (a
private world: session bus, logind mock, qz5d on the emulated keyboard):

  x11           a private Xvfb (pixels read through GDK, ~0.1 ms a look);
  x11+manager   the same, with a user service manager (the dbusmock
                template of the tests) starting qz5-osd as a unit;
  layer-shell   headless sway in a user namespace (pixels read with grim,
                a few ms a look);
  notification  a dbusmock notification server: until its Notify call.

For each: the first code after the daemon started (the helper starts on
first use) and later codes (the helper runs), each a new picture, spaced
past the countdown so that the window is mapped again each time. Also the
helper's resident memory while it waits.

  bench/osd_bench.py [--build DIR] [--codes N]"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True
p = argparse.ArgumentParser(usage=__doc__.split("\n\n")[-1].strip())
p.add_argument("--build", default=os.path.join(ROOT, "build/plain"))
p.add_argument("--codes", type=int, default=10)
ARGS = p.parse_args()
os.environ["QZ5_BUILD"] = os.path.abspath(ARGS.build)
sys.path.insert(0, os.path.join(ROOT, "tools/emulator"))
from world import World, wait_for  # noqa: E402

PIXEL = (500, 620)  # inside every picture
CODES = [0xF1, 0xF2, 0xF3, 0xF8, 0xF9]


def world():
    w = World()
    w.start_bus("session")
    w.start_logind()
    return w


def post(w, code):
    w.notify("PellQZ5", "QZ5SettingChange", {"QZ5SettingChangeType": 6, "OsdType": code})
    return time.monotonic()


def helper_rss():
    out = subprocess.run(["pgrep", "-f", "osd/qz5-osd"], capture_output=True, text=True).stdout.split()
    for pid in out:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024
    return None


def measure(w, shown, background, helper_up):
    """Seconds from each post to the start of the first look that saw it
    (the look itself may take a while: grim waits for a frame): a code at
    once when the daemon is ready (its helper may still be starting), the
    first code once the helper is up, then later codes."""
    times = []
    for i in range(ARGS.codes + 2):
        code = CODES[i % len(CODES)]
        wait_for(lambda: background(), 10, what="the desktop without the OSD", interval=0.05)
        if i == 1:
            wait_for(helper_up, 10, what="the helper", interval=0.01)
        t0 = post(w, code)
        while True:
            look = time.monotonic()
            if shown(code):
                break
            if look - t0 > 10:
                raise AssertionError(f"code {code:x} not seen within 10 s")
        times.append(look - t0)
        UPPER.append(time.monotonic() - t0)
    return times


UPPER = []  # the same, to the end of that look


def report(name, times, rss):
    later = sorted(times[2:])
    print(f"{name:13} at ready {times[0] * 1000:6.1f} ms | first, helper up {times[1] * 1000:6.1f} ms | later: "
          f"median {statistics.median(later) * 1000:5.1f} ms, max {later[-1] * 1000:5.1f} ms (n={len(later)})"
          + (f" | helper RSS {rss:.1f} MiB" if rss else ""), flush=True)
    upper = UPPER[-len(times):]
    if max(u - t for u, t in zip(upper, times)) > 0.005:
        print(f"{'':13} (a look takes a while; to the end of the look that saw it: at ready {upper[0] * 1000:.1f} ms,"
              f" first {upper[1] * 1000:.1f} ms, later median {statistics.median(sorted(upper[2:])) * 1000:.1f} ms)",
              flush=True)


def helper_up(w):
    return lambda: w.count_log("^qz5-osd: showing on ") > 0


def x11(manager):
    with world() as w:
        display = w.start_display()
        import gi
        gi.require_version("Gdk", "3.0")
        from gi.repository import Gdk
        os.environ["DISPLAY"] = display
        root = Gdk.Display.open(display).get_default_screen().get_root_window()
        pixel = lambda: bytes(Gdk.pixbuf_get_from_window(root, *PIXEL, 1, 1).get_pixels()[:3])
        desk = pixel()
        env = {"DISPLAY": display}
        if manager:
            w.start_user_manager([f"DISPLAY={display}", f"PATH={os.environ['PATH']}"])
            env = {}
        w.serve(env=env)
        times = measure(w, lambda c: pixel() != desk, lambda: pixel() == desk, helper_up(w))
        report("x11+manager" if manager else "x11", times, helper_rss())


def layer_shell():
    runtime = tempfile.mkdtemp(prefix="qz5-bench-sway-")
    config = os.path.join(runtime, "sway.conf")
    with open(config, "w") as f:
        f.write("output HEADLESS-1 resolution 1000x800 background #2060a0 solid_color\nxwayland disable\n")
    senv = {"PATH": os.environ["PATH"], "XDG_RUNTIME_DIR": runtime, "WLR_BACKENDS": "headless",
            "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman", "HOME": runtime}
    sway = subprocess.Popen(["unshare", "-U", "--map-user=1000", "--map-group=1000", "sway", "-c", config],
                            env=senv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        sock = wait_for(lambda: next((n for n in os.listdir(runtime) if n.startswith("wayland-")
                                      and not n.endswith(".lock")), None), 20, what="sway")
        genv = dict(senv, WAYLAND_DISPLAY=sock)
        grab = lambda: subprocess.run(["grim", "-g", f"{PIXEL[0]},{PIXEL[1]} 1x1", "-t", "ppm", "-"], env=genv,
                                      capture_output=True).stdout[-3:]
        desk = wait_for(lambda: (lambda g: g if g == bytes([0x20, 0x60, 0xA0]) else None)(grab()), 10,
                        what="sway's background")
        with world() as w:
            w.serve(env={"WAYLAND_DISPLAY": sock, "XDG_RUNTIME_DIR": runtime})
            times = measure(w, lambda c: grab() != desk, lambda: grab() == desk, helper_up(w))
            report("layer-shell", times, helper_rss())
    finally:
        sway.kill()
        sway.wait()
        subprocess.run(["rm", "-rf", runtime])


def notification():
    with world() as w:
        w.spawn(["/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        bus = w.session_bus()
        wait_for(lambda: bus.name_has_owner("org.freedesktop.Notifications"), 10, what="the notification server")
        # The Notify call as it crosses the bus (the mock itself takes about
        # half a second to unpack the image in Python).
        monitor = w.spawn(["dbus-monitor", "--address", w.env["DBUS_SESSION_BUS_ADDRESS"], "--profile",
                           "type='method_call',interface='org.freedesktop.Notifications',member='Notify'"],
                          stdout=subprocess.PIPE, text=True)
        seen_calls = []
        threading.Thread(target=lambda: [seen_calls.append(l) for l in monitor.stdout if "\tNotify" in l],
                         daemon=True).start()
        count = lambda: len(seen_calls)
        w.serve()
        seen = [0]

        def shown(_):
            n = count()
            if n > seen[0]:
                seen[0] = n
                return True
            return False
        # The mock takes about half a second to take a call apart in Python
        # (the image); codes go out a second apart so that each is sent at once.
        last = [0.0]
        shown_at = lambda c: shown(c) and not last.__setitem__(0, time.monotonic())
        times = measure(w, shown_at, lambda: time.monotonic() - last[0] > 1.0, helper_up(w))
        report("notification", times, helper_rss())


print(f"== load average before: {open('/proc/loadavg').read().split()[:3]}")
for run in (lambda: x11(False), lambda: x11(True), layer_shell, notification):
    try:
        run()
    except Exception as e:  # one desktop that cannot run here leaves the others
        print(f"  failed: {e}", flush=True)
