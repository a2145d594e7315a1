#!/usr/bin/python3
"""qz5d at work, told in the terminal: a private world (session bus, logind
mock with you logged in, an X display, qz5d on the emulated keyboard), then

  1. the status reply,
  2. a full download of profile 2 (which gets a macro, a launch key and a
     lighting setup first), and what the keyboard received, in words,
  3. the keyboard's own keys and what the daemon did about each: the
     notification it relayed, the on-screen display it showed, the program a
     launch key opened.

A screenshot of the on-screen display is saved into the output folder.

  scripts/demo.py [--build DIR] [--out DIR] [--keep] [--private-display]

--build: the built tree (default build/plain; scripts/demo builds it first).
--out: where the screenshot, the launch-key script and its marker go
       (default build/demo).
--keep: leave the world running afterwards and say how to talk to it, until Ctrl-C.
--private-display: always start Xvfb, even when $DISPLAY is set.

Everything it started is stopped when it ends, also on Ctrl-C or SIGTERM."""

import argparse
import ctypes
import os
import plistlib
import queue
import re
import select
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCREEN = "1000x800x24"
DESKTOP = "#2060a0"  # the colour of the private display's desktop


def parse_args():
    p = argparse.ArgumentParser(usage=__doc__.split("\n\n")[2].strip())
    p.add_argument("--build", default=os.path.join(ROOT, "build/plain"))
    p.add_argument("--out", default=os.path.join(ROOT, "build/demo"))
    p.add_argument("--keep", action="store_true")
    p.add_argument("--private-display", action="store_true")
    return p.parse_args()


ARGS = parse_args()
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
os.environ["QZ5_BUILD"] = os.path.abspath(ARGS.build)
sys.path.insert(0, os.path.join(ROOT, "tools/emulator"))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
from request_words import Decoder  # noqa: E402
from world import QZ5CTL, World, wait_for  # noqa: E402


class Stop(Exception):
    """SIGTERM: end the way Ctrl-C does."""


def on_term(*_):
    raise Stop()


def short(report):
    """A report command without its trailing zero bytes."""
    return " ".join(report.split()[:5]) + " ..."


def say(text=""):
    print(text, flush=True)


class Lines:
    """Lines of a `qz5ctl monitor` the world started, read with deadlines."""

    def __init__(self, monitor):
        self.lines = monitor.lines

    def get(self, timeout):
        """The next line, or None when none comes within timeout seconds."""
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            return None


def adopt_orphans():
    """Makes this process the one that inherits its descendants' orphans (the
    daemon's on-screen display helper ends just after the daemon), so that
    they can be waited for."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER


def end_orphans(timeout=5.0):
    """Waits for what is left of this process's children, ending them at the deadline."""
    deadline, signalled = time.monotonic() + timeout, False
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid:
            continue
        if time.monotonic() > deadline and not signalled:
            for task in os.listdir("/proc/self/task"):
                with open(f"/proc/self/task/{task}/children") as f:
                    for child in f.read().split():
                        os.kill(int(child), signal.SIGKILL)
            signalled = True
        time.sleep(0.02)


def osd_pictures():
    """OSD code -> picture name, from the helper's own table."""
    with open(os.path.join(ROOT, "osd/osd_core.cpp")) as f:
        return {int(code, 16): name for code, name in re.findall(r'\{0x([0-9A-Fa-f]+),\s*"([^"]+)"\}', f.read())}


def attached_keyboard(build):
    """Whether a real keyboard with the build's vendor and product ID is on the USB bus."""
    try:
        with open(os.path.join(build, "generated/config/build_config.hpp")) as f:
            ids = dict(re.findall(r"kQz5Usb(Vendor|Product)Id = 0x([0-9A-Fa-f]+);", f.read()))
        want = (ids["Vendor"].lower().zfill(4), ids["Product"].lower().zfill(4))
    except (OSError, KeyError):
        return False
    devices = "/sys/bus/usb/devices"
    for d in os.listdir(devices) if os.path.isdir(devices) else []:
        try:
            with open(f"{devices}/{d}/idVendor") as v, open(f"{devices}/{d}/idProduct") as p:
                if (v.read().strip(), p.read().strip()) == want:
                    return True
        except OSError:
            continue
    return False


# --- the settings ------------------------------------------------------------------

def step(keycode, down):
    return {"KEYCODE": keycode, "KEYFLAG": 1 if down else 0}


def write_settings(w, launch_script):
    """Factory defaults, then profile 2 gets a T1 macro typing "hello", T2 as a
    launch key for launch_script, and the lighting and instant shift are set."""
    w.qz5ctl("settings", "init", w.settings, check=True)
    with open(w.settings, "rb") as f:
        settings = plistlib.load(f)
    # Macro steps name keys by their macOS key code + 1; 255 is a pause.
    h, e, l, o = 0x04 + 1, 0x0E + 1, 0x25 + 1, 0x1F + 1
    steps = [step(h, 1), step(h, 0), step(e, 1), step(e, 0), {"KEYCODE": 255, "KEYFLAG": 50},
             step(l, 1), step(l, 0), step(l, 1), step(l, 0), step(o, 1), step(o, 0)]
    macro = {"MACRONAME": "hello", "LENGTH": len(steps), "REPEAT_OPTION": 1, "REPEAT_TIMES": 1}
    macro.update({f"KEYMAP_{i + 1}": s for i, s in enumerate(steps)})
    profile = settings["PROFILE_2"]
    profile["TKEYINFO_1"] = {"FUNCID": 2, "LAUNCHPATH": "", "SINGLE_KEYCODE": 0, "MAPKEY_KEYCODE": 0,
                             "MACRO": macro}
    profile["TKEYINFO_2"] = {"FUNCID": 3, "LAUNCHPATH": launch_script, "SINGLE_KEYCODE": 0, "MAPKEY_KEYCODE": 0,
                             "MACRO": {"MACRONAME": "", "LENGTH": 0, "REPEAT_OPTION": 1, "REPEAT_TIMES": 1}}
    profile["INSTANT_SHIFT"] = {"NEXTKEY": 1, "PREKEY": 2}  # Alt, Control
    settings["LIGHT_OPTION"] = {"LIGHT_STYLE": 3, "WASDLIGHT": 1, "DIRECTLIGHT": 1, "NUMBERLIGHT": 0,
                                "PELLFLAGLIGHT": 1}
    with open(w.settings, "wb") as f:
        plistlib.dump(settings, f)


def write_launch_script(out):
    script, marker = os.path.join(out, "launch-key.sh"), os.path.join(out, "launched.txt")
    with open(script, "w") as f:
        f.write(f"#!/bin/sh\n# Opened by qz5d for a launch key.\necho \"launched by qz5d (pid $PPID) at $(date +%T)\" > '{marker}'\n")
    os.chmod(script, 0o755)
    if os.path.exists(marker):
        os.unlink(marker)
    return script, marker


# --- the X display -------------------------------------------------------------------

def screen(w):
    return subprocess.run(["/usr/bin/import", "-window", "root", "-depth", "8", "ppm:-"], env=w.env,
                          capture_output=True, check=True).stdout


def screenshot_when_shown(w, before, path):
    """Waits until the screen changed from before and holds still for two
    screenshots running, then saves it as a PNG."""
    last = [b""]

    def settled():
        now = screen(w)
        if now != before and now == last[0]:
            return now
        last[0] = now
        return None
    shot = wait_for(settled, 10, "the on-screen display to show")
    subprocess.run(["/usr/bin/convert", "ppm:-", "png:" + path], input=shot, check=True)


# --- the story ---------------------------------------------------------------------------

class Story:
    def __init__(self, w, out):
        self.w, self.out = w, out
        self.pictures = osd_pictures()
        self.monitor = None
        self.screenshot = os.path.join(out, "osd-profile2.png")

    def osd_shows(self):
        return self.w.count_log(r"^qz5-osd: \d+$")

    def notifications(self, wait):
        """Notification lines: the first within wait seconds, then what follows at once."""
        lines = []
        line = self.monitor.get(wait)
        while line is not None:
            lines.append(line)
            line = self.monitor.get(0.2)
        return lines

    def status(self):
        r = self.w.qz5ctl("status", check=True)
        say("1. qz5ctl status: " + ", ".join(r.stdout.splitlines()))
        say("   the reply on the bus: " + ", ".join(self.notifications(10)))

    def download(self):
        w = self.w
        self.script, self.marker = write_launch_script(self.out)
        script = self.script
        write_settings(w, script)
        say('2. profile 2 gets a T1 macro typing "hello", T2 as a launch key for ' + os.path.relpath(script)
            + ", lighting style 3")
        expected = w.qz5ctl("requests", w.settings, "2", "--save", check=True).stdout.splitlines()
        start = len(w.requests())
        began = time.monotonic()
        say(f"   qz5ctl apply 2 --save: the keyboard receives {len(expected)} requests, pausing after each; "
            "qz5ctl waits until qz5d says how it went ...")
        w.qz5ctl("apply", "2", "--save", check=True)
        got = w.wait_requests(start + len(expected), timeout=60)[start:]
        took = time.monotonic() - began
        say("   the notice on the bus: " + ", ".join(self.notifications(10)))
        decoder = Decoder()
        say(f"   received in {took:.1f} s" + (" (as `qz5ctl requests` computes them):" if got == expected
                                               else ", NOT what `qz5ctl requests` computes:"))
        for line in got:
            say("     " + decoder.line(line))
        if got != expected:
            raise AssertionError("the keyboard received other requests than the full download")

    def key(self, label, report, relays, screenshot=False):
        w = self.w
        shows, before = self.osd_shows(), screen(w) if screenshot else None
        w.emulator(report)
        w.wait_log(r"^qz5-osd: \d+$", count=shows + 1)
        b = report.split()
        code = int(b[4] if b[1] == "8" else b[2], 16)
        what = f"OSD {self.pictures.get(code, 'no picture')}"
        lines = self.notifications(10 if relays else 0.3)
        what += "; relayed: " + (", ".join(lines) if lines else "nothing")
        say(f"   {label:<14} {short(report)}  {what}")
        if screenshot:
            screenshot_when_shown(w, before, self.screenshot)
            say(f"   {'':<14} screenshot of the OSD: {os.path.relpath(self.screenshot)}")

    def launch_key(self):
        w = self.w
        opened = w.count_log("^open App$")
        report = "report 4 fd 02 00 00 00 00 00 00"
        w.emulator(report)
        w.wait_log("^open App$", count=opened + 1)
        wait_for(lambda: os.path.exists(self.marker) and os.path.getsize(self.marker) > 0, 10,
                 "the launched program's marker file")
        with open(self.marker) as f:
            said = f.read().strip()
        say(f"   {'launch key T2':<14} {short(report)}  opened {os.path.relpath(self.script)}; "
            f"{os.path.relpath(self.marker)}: {said}")

    def keys(self):
        say("3. keys on the keyboard (what `qz5ctl monitor` received, what the daemon showed or opened):")
        self.key("profile key", "report 8 00 00 f2 00 00 00 00 00", True, screenshot=True)
        self.key("game-mode key", "report 8 00 00 f8 00 00 00 00 00", True)
        self.key("lighting key", "report 8 00 00 fb 00 00 00 00 00", True)
        self.key("media key", "report 4 cd 00 00 00 00 00 00 00", False)
        self.launch_key()


def keep_running(w, display):
    ctl = QZ5CTL
    say(f"""
The world keeps running. In another terminal:

  export DBUS_SESSION_BUS_ADDRESS={w.env['DBUS_SESSION_BUS_ADDRESS']}
  export QZ5_SETTINGS_FILE={w.settings}
  DISPLAY={display} {os.path.join(os.environ["QZ5_BUILD"], "app/qz5-settings")} &   # the settings window
  {ctl} monitor          # one line per notification qz5d relays
  {ctl} status
  {ctl} apply 1 --save
  echo 'report 8 00 00 f1 00 00 00 00 00' > {w.fifo}   # the profile-1 key
  cat {w.log}   # what the keyboard received
  cat {w.err}   # the daemon's log
  DISPLAY={display} /usr/bin/import -window root -depth 8 png:shot.png   # the screen

Ctrl-C ends it all.""")
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})
    signal.sigwait({signal.SIGINT, signal.SIGTERM})


def main():
    build = os.environ["QZ5_BUILD"]
    for exe in ("daemon/qz5d", "tools/qz5ctl", "tools/emulator/qz5-emulator", "osd/qz5-osd"):
        if not os.access(os.path.join(build, exe), os.X_OK):
            sys.exit(f"demo: {exe} is not built in {build} (scripts/demo builds it)")
    out = os.path.abspath(ARGS.out)
    os.makedirs(out, exist_ok=True)
    signal.signal(signal.SIGTERM, on_term)
    signal.signal(signal.SIGINT, signal.default_int_handler)  # also when started with it ignored
    adopt_orphans()
    w = World()
    status = 1
    try:
        if attached_keyboard(build):
            say("== a QZ5 is attached; this demo leaves it alone and runs on the emulated keyboard")
        w.start_bus("session")
        w.start_logind()
        w.add_session("c1", os.getuid(), os.environ.get("USER", "root"))
        display = os.environ.get("DISPLAY") if not ARGS.private_display else None
        if display:
            w.env["DISPLAY"] = display
            where = f"your display {display}"
        else:
            display = w.start_display(SCREEN, DESKTOP)
            where = f"a private X server (Xvfb {display})"
        story = Story(w, out)
        w.start_daemon(["--profile", "1"])
        w.ready()
        story.monitor = Lines(w.monitor())
        say(f"== qz5d runs on the emulated keyboard; its on-screen display on {where}")
        story.status()
        story.download()
        story.keys()
        say(f"== screenshot: {story.screenshot}")
        if ARGS.keep:
            w.procs[-1].terminate()  # the story's monitor
            keep_running(w, display)
        status = 0
    except (KeyboardInterrupt, Stop):
        say("\n== interrupted")
        status = 130
    except AssertionError as e:
        say(f"demo failed: {e}\nthe daemon's log ends:")
        for line in w.log_lines()[-20:] if os.path.exists(w.err) else []:
            say("  " + line)
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)  # a second Ctrl-C does not cut the teardown short
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT, signal.SIGTERM})
        w.close()
        end_orphans()
        say("== everything stopped")
    return status


if __name__ == "__main__":
    sys.exit(main())
