#!/usr/bin/python3
"""qz5-osd on the desktops it meets besides a bare X server: a wlroots
compositor with layer-shell (sway, headless, in a user namespace: it will
not run as root), GNOME's compositor without layer-shell (mutter --headless,
through XWayland), and a session with no display but a notification server
(python3-dbusmock's notification_daemon on a private bus).

usage: desktop_test.py QZ5_OSD PICTURE_DIR"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

import dbus

import checks
from checks import ORIGIN, WINDOW, check, differs, exit_status, expected_screen, picture_rgba, wait_for

OSD, PICTURES = sys.argv[-2], sys.argv[-1]
BACKDROP = (0x30, 0x60, 0x30)  # the fullscreen client's colour
cleanups = []


def start(cmd, **kw):
    p = subprocess.Popen(cmd, **kw)
    cleanups.append(p)
    return p


def feed(proc, *lines):
    for line in lines:
        proc.stdin.write(line.encode() + b"\n")
    proc.stdin.flush()


def sway_part(runtime):
    """The layer-shell backend on headless sway."""
    config = os.path.join(runtime, "sway.conf")
    with open(config, "w") as f:
        f.write("output HEADLESS-1 resolution 1000x800 background #2060a0 solid_color\n"
                "default_border none\nxwayland disable\n")
    env = {"PATH": os.environ["PATH"], "XDG_RUNTIME_DIR": runtime, "WLR_BACKENDS": "headless",
           "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman", "HOME": runtime}
    # sway refuses to run as root: it runs as uid 1000 of its own user namespace.
    sway = start(["unshare", "-U", "--map-user=1000", "--map-group=1000", "sway", "-c", config], env=env,
                 stdout=subprocess.DEVNULL, stderr=open(os.path.join(runtime, "sway.log"), "w"))
    socket = wait_for(lambda: next((n for n in os.listdir(runtime) if n.startswith("wayland-")
                                    and not n.endswith(".lock")), None), 20)
    ipc = wait_for(lambda: next((n for n in os.listdir(runtime) if n.startswith("sway-ipc")), None), 20)
    if not socket or not ipc:
        check("sway starts headless", False, open(os.path.join(runtime, "sway.log")).read()[-2000:])
        return
    wl = dict(env, WAYLAND_DISPLAY=socket, SWAYSOCK=os.path.join(runtime, ipc), NO_AT_BRIDGE="1")

    def shot(margin=10):
        x, y, w, h = ORIGIN[0] - margin, ORIGIN[1] - margin, WINDOW[0] + 2 * margin, WINDOW[1] + 2 * margin
        ppm = subprocess.run(["grim", "-g", f"{x},{y} {w}x{h}", "-t", "ppm", "-"], env=wl, capture_output=True).stdout
        data = ppm[-3 * w * h:]
        return [tuple(data[i:i + 3]) for i in range(0, len(data), 3)]

    def focused():
        def walk(node):
            if node.get("focused"):
                return node
            return next((f for n in node.get("nodes", []) + node.get("floating_nodes", []) if (f := walk(n))), None)
        tree = json.loads(subprocess.run(["swaymsg", "-t", "get_tree"], env=wl, capture_output=True).stdout or "{}")
        node = walk(tree) if tree else None
        return node and node.get("name")

    # A fullscreen client with the keyboard focus, as a game would be.
    client = start(["/usr/bin/python3", "-c", """
import gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk
w = Gtk.Window(title="focus-keeper")
css = Gtk.CssProvider()
css.load_from_data(b"window { background: #306030; }")
Gtk.StyleContext.add_provider_for_screen(w.get_screen(), css, 600)
w.connect("destroy", Gtk.main_quit)
w.fullscreen()
w.show_all()
Gtk.main()
"""], env=dict(wl, GDK_BACKEND="wayland"), stderr=subprocess.DEVNULL)
    plain = expected_screen(PICTURES, None, 10, BACKDROP)
    check("the fullscreen client has the focus and covers the output",
          wait_for(lambda: focused() == "focus-keeper" and not differs(shot(), plain, 10), 20), focused())

    errors = tempfile.TemporaryFile("w+")
    osd = start([OSD], stdin=subprocess.PIPE, stderr=errors, env=wl)
    feed(osd, "242")
    diff = checks.wait_shows(shot, expected_screen(PICTURES, "Profile2.png", 10, BACKDROP), 10, 10)
    check("layer-shell: Profile2 shows over the fullscreen client, centred, 100 px above the bottom",
          diff == "", diff)
    if os.environ.get("QZ5_SHOTS"):  # a folder to keep a screenshot in, to look at
        subprocess.run(["grim", os.path.join(os.environ["QZ5_SHOTS"], "osd-sway.png")], env=wl)
    check("layer-shell: the client keeps the keyboard focus", focused() == "focus-keeper", focused())
    check("layer-shell: the OSD never enters the window tree",
          "qz5-osd" not in subprocess.run(["swaymsg", "-t", "get_tree"], env=wl, capture_output=True, text=True).stdout)
    check("layer-shell: the countdown closes it",
          wait_for(lambda: not differs(shot(), plain, 10), 15))
    feed(osd, "243")
    diff = checks.wait_shows(shot, expected_screen(PICTURES, "Profile3.png", 10, BACKDROP), 10, 10)
    check("layer-shell: the closed surface shows again for the next code", diff == "", diff)
    check("layer-shell: the focus never moved", focused() == "focus-keeper", focused())
    client.kill()
    sway.terminate()
    status = exit_status(osd)
    check("layer-shell: qz5-osd ends when the compositor goes away", status not in ("still running", 0), status)
    errors.seek(0)
    log = errors.read()
    check("layer-shell: chosen by itself and logged", "qz5-osd: showing on layer-shell\n" in log, log)
    check("layer-shell: one surface for both codes", log.count("qz5-osd: 1\n") == 2, log)


def notification_part(runtime):
    """The notification backend on a private session bus, and the choices."""
    bus_proc = start(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE, text=True)
    address = bus_proc.stdout.readline().strip()
    env = {"PATH": os.environ["PATH"], "DBUS_SESSION_BUS_ADDRESS": address, "XDG_RUNTIME_DIR": runtime}
    start(["/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon"], env=env,
          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    bus = dbus.bus.BusConnection(address)
    wait_for(lambda: bus.name_has_owner("org.freedesktop.Notifications"), 20)
    mock = dbus.Interface(bus.get_object("org.freedesktop.Notifications", "/org/freedesktop/Notifications"),
                          "org.freedesktop.DBus.Mock")
    calls = lambda name: [c[2] for c in mock.GetCalls() if c[1] == name]

    errors = tempfile.TemporaryFile("w+")
    osd = start([OSD], stdin=subprocess.PIPE, stderr=errors, env=env)
    feed(osd, "242", "243")
    notes = wait_for(lambda: (lambda n: n if len(n) == 2 else None)(calls("Notify")), 10) or calls("Notify")
    check("notification: a bubble per code", len(notes) == 2, notes)
    if len(notes) == 2:
        first, second = notes
        check("notification: titled in words, from qz5d",
              [(n[0], n[3]) for n in notes] == [("qz5d", "Profile 2"), ("qz5d", "Profile 3")], notes)
        check("notification: the second replaces the first bubble", (first[1], second[1]) == (0, 1), (first[1], second[1]))
        hints = second[6]
        check("notification: transient, expiring with the countdown", bool(hints.get("transient")) and second[7] == 3000)
        w, h, stride, alpha, bits, channels, data = hints["image-data"]
        pw, ph, rgba = picture_rgba(PICTURES, "Profile3.png")
        x0, y0 = (WINDOW[0] - pw) // 2, (WINDOW[1] - ph) // 2
        got = bytes(data)
        off = [(x, y) for y in range(ph) for x in range(pw)
               if max(abs(a - b) for a, b in zip(got[(y0 + y) * stride + 4 * (x0 + x):][:4], rgba[4 * (y * pw + x):][:4]))
               > (2 if rgba[4 * (y * pw + x) + 3] > 16 else 255)]
        check("notification: the picture as image data, unpremultiplied RGBA",
              (w, h, stride, bool(alpha), bits, channels) == (200, 130, 800, True, 8, 4) and not off,
              (w, h, stride, alpha, bits, channels, len(off)))
    check("notification: the countdown closes the bubble", wait_for(lambda: calls("CloseNotification"), 15))
    osd.stdin.close()
    check("notification: exits 0 at the end of its input", exit_status(osd) == 0)
    errors.seek(0)
    log = errors.read()
    check("notification: chosen by itself and logged", "qz5-osd: showing on notification\n" in log, log)

    # Forcing, and a session without anything to show on.
    run = lambda args, **e: subprocess.run([OSD, *args], input=b"", capture_output=True, env=dict(env, **e))
    r = run(["--backend", "x11"])
    check("a forced backend that cannot open exits 3", r.returncode == 3 and b"no X display" in r.stderr, r)
    r = run([], DISPLAY=":7399")  # names no X server
    check("an X display that cannot be opened falls back to notifications",
          r.returncode == 0 and b"showing on notification\n" in r.stderr, r)
    r = run([], QZ5_OSD_BACKEND="notification")
    check("QZ5_OSD_BACKEND forces a backend", r.returncode == 0 and b"showing on notification (as asked)" in r.stderr, r)
    r = run(["--backend", "window"])
    check("an unknown backend is a usage error", r.returncode == 2 and b"no backend called window" in r.stderr, r)
    bus.close()
    bus_proc.terminate()
    r = run([], DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent")
    check("nothing to show on: exit 3", r.returncode == 3, r)


def mutter_part(runtime):
    """GNOME's compositor (mutter 43, headless, Wayland with XWayland) offers
    no layer-shell: qz5-osd takes XWayland's DISPLAY. mutter runs this
    script again as its session's program (mutter_child) and ends with it."""
    env = {"PATH": os.environ["PATH"], "HOME": runtime, "XDG_RUNTIME_DIR": runtime}
    r = subprocess.run(["dbus-run-session", "--", "mutter", "--headless", "--wayland", "--virtual-monitor", "1000x800", "--",
                        sys.executable, os.path.abspath(__file__), "--mutter-child", OSD, PICTURES],
                       env=env, capture_output=True, text=True, timeout=90)
    lines = [l for l in r.stdout.splitlines() if l.startswith(("ok: ", "FAIL: "))]
    for line in lines:
        print("mutter: " + line, flush=True)
    check("mutter: the checks ran inside the session", lines and r.returncode == 0 or False,
          r.stderr[-1500:] if not lines else "")


def mutter_child():
    """Inside mutter's session: a fullscreen X11 client (under XWayland)
    holds the focus; qz5-osd chooses X11 and maps its override-redirect
    window, which mutter stacks above the client (mutter offers no screen
    capture to check pixels with; X's stacking order is mutter's)."""
    x = lambda *a: subprocess.run(a, capture_output=True, text=True).stdout.strip()
    term = start(["xterm", "-fullscreen"], stderr=subprocess.DEVNULL)
    focus = wait_for(lambda: (lambda w: w if w and x("xdotool", "getwindowfocus") == w else None)(
        (x("xdotool", "search", "--onlyvisible", "--class", "xterm").split() or [None])[0]), 20)
    check("an XWayland client has the focus", focus)
    errors = tempfile.TemporaryFile("w+")
    osd = start([OSD], stdin=subprocess.PIPE, stderr=errors)
    feed(osd, "242")
    osd_window = lambda: next((l.split()[0] for l in x("xwininfo", "-root", "-children").splitlines()
                               if " 200x130+" in l), None)
    wid = wait_for(lambda: (lambda w: w if w and "IsViewable" in x("xwininfo", "-id", w) else None)(osd_window()), 10)
    info = x("xwininfo", "-id", wid) if wid else ""
    check("x11 under XWayland: the window is mapped", wid, info)
    check("x11 under XWayland: centred, 100 px above the bottom",
          "Absolute upper-left X:  400" in info and "Absolute upper-left Y:  570" in info, info)
    check("x11 under XWayland: override-redirect", "Override Redirect State: yes" in info, info)
    children = [l.split() for l in x("xwininfo", "-root", "-children").splitlines() if "+" in l]  # top first
    stack = [c[0] for c in children]
    frames = [c[0] for c in children if "1000x800+0+0" in c]
    check("x11 under XWayland: stacked above the fullscreen client",
          wid in stack and frames and stack.index(wid) < stack.index(frames[0]), (wid, frames))
    check("x11 under XWayland: the focus stays with the client", x("xdotool", "getwindowfocus") == focus)
    osd.stdin.close()
    exit_status(osd)
    errors.seek(0)
    log = errors.read()
    check("x11 under XWayland: chosen by itself", "qz5-osd: showing on x11\n" in log, log)
    term.kill()


if sys.argv[1:2] == ["--mutter-child"]:
    OSD, PICTURES = sys.argv[2], sys.argv[3]
    try:
        mutter_child()
    finally:
        for p in cleanups:
            p.kill()
    sys.exit(1 if checks.failures else 0)

runtime = tempfile.mkdtemp(prefix="qz5-desktop-")
try:
    sway_part(runtime)
    notification_part(runtime)
    mutter_part(runtime)
finally:
    for p in reversed(cleanups):
        if p.poll() is None:
            p.kill()
            p.wait()
    shutil.rmtree(runtime, ignore_errors=True)
sys.exit(1 if checks.failures else 0)
