#!/usr/bin/python3
"""qz5-osd on a private X server (Xvfb): where and what it shows, that it closes,
with and without a compositor, that it never takes the keyboard focus, and
how it ends.

usage: osd_display_test.py QZ5_OSD PICTURE_DIR (with tools/emulator on PYTHONPATH)
PICTURE_DIR holds the drawn pictures; the screen is compared with them."""
import atexit
import subprocess
import sys
import tempfile

from world import XServer

import checks
from checks import ORIGIN, WINDOW, check, exit_status, expected_screen, wait_for

OSD, PICTURES = sys.argv[1], sys.argv[2]
ROOT = (0x20, 0x60, 0xA0)


X = XServer()
atexit.register(X.close)
x = X.run


def screen(margin=10):
    return X.screenshot(ORIGIN[0] - margin, ORIGIN[1] - margin, WINDOW[0] + 2 * margin, WINDOW[1] + 2 * margin)


def screen_shows(name, desktop=None, seconds=2):
    """'' once the window area (and a margin around it) looks as name would
    show within the deadline, else what still differs."""
    return checks.wait_shows(screen, expected_screen(PICTURES, name, 10, desktop, ROOT), 10, seconds)


x("xsetroot", "-solid", "#%02x%02x%02x" % ROOT)
# Something that has the keyboard focus, as a game would.
term = subprocess.Popen(["xterm", "-geometry", "20x4+0+0"], env=X.env, stderr=subprocess.DEVNULL)
atexit.register(term.kill)
focused = wait_for(lambda: x("xdotool", "search", "--onlyvisible", "--class", "xterm"), 20).split()[0]
x("xdotool", "windowfocus", "--sync", focused)
focus = wait_for(lambda: x("xdotool", "getwindowfocus") == focused and focused, 5)
check("the test window has the focus", focus == focused, x("xdotool", "getwindowfocus"))

errors = tempfile.TemporaryFile("w+")
osd = subprocess.Popen([OSD], stdin=subprocess.PIPE, stderr=errors, env=X.env)
atexit.register(lambda: osd.kill())


def send(line):
    osd.stdin.write(line.encode() + b"\n")
    osd.stdin.flush()


# Lines in turn, each group then left to the countdown: the picture shown (a
# code during the countdown swaps the picture; a line that is not a code is
# skipped; a code without a picture maps an empty window). How long the
# window stays is OsdView's countdown in the unit tests, on a clock of its own.
wid = None
for lines, picture in [(["241"], "Profile1.png"), (["241", "248"], "Mode_Game.png"), (["profile one", "66"], None)]:
    for line in lines:
        send(line)
    wid = wait_for(lambda: X.visible_osd() if wid is None else X.mapped(wid) and wid, 10)
    check(f"{lines}: the window maps", wid)
    diff = screen_shows(picture)
    check(f"{lines}: the screen shows {picture} centred, 100 px above the screen's bottom", diff == "", diff)
    if picture == "Profile1.png":
        check("the keyboard focus stays where it was", x("xdotool", "getwindowfocus") == focus)
        x("xdotool", "mousemove", "--sync", str(ORIGIN[0] + 100), str(ORIGIN[1] + 65))
        under = x("xdotool", "getmouselocation", "--shell").split("WINDOW=")[-1]
        root = int(x("xwininfo", "-root").split("Window id: ")[1].split()[0], 16)
        check("the mouse goes through it to the desktop beneath", int(under) == root, under)
    check(f"{lines}: the countdown unmaps it", wait_for(lambda: not X.mapped(wid), 10))
    check(f"{lines}: the desktop shows again", screen_shows(None, seconds=0) == "")
check("one window, reused for every code", X.osd_windows() == [wid], X.osd_windows())
check("the focus never moved", x("xdotool", "getwindowfocus") == focus)

# With a compositor the window turns see-through instead of being cut to shape,
# and back when the compositor goes.
send("250")
compositor = subprocess.Popen(["xcompmgr"], env=X.env, stderr=subprocess.DEVNULL)
check("a compositor starting gives the window an alpha channel", wait_for(lambda: X.visible_osd(32), 10))
desktop = X.screenshot(999, 0, 1, 1)[0]  # as the compositor paints the desktop
send("251")
diff = screen_shows("Pulse2.png", desktop=desktop)
check("... and the picture is blended over the desktop", diff == "", diff)
compositor.terminate()
compositor.wait()
send("252")
check("without the compositor the window has no alpha channel again", wait_for(lambda: X.visible_osd(24), 10))
diff = screen_shows("Pulse3.png")
check("... and is cut to the picture's shape", diff == "", diff)
check("the focus stayed through it all", x("xdotool", "getwindowfocus") == focus)

# End of input ends the program.
osd.stdin.close()
status = exit_status(osd)
check("exits 0 at the end of its input", status == 0, status)
errors.seek(0)
log = errors.read()
check("the line that is not a code is reported", "profile one" in log, log)
check("one window reference logged per code", log.count("qz5-osd: 1\n") == 7, log)

# When the X server goes away, so does qz5-osd (the daemon starts a new one later).
osd = subprocess.Popen([OSD], stdin=subprocess.PIPE, stderr=subprocess.DEVNULL, env=X.env)
send("242")
wait_for(X.visible_osd, 10)
term.kill()
X.proc.terminate()
status = exit_status(osd)
check("exits when the display goes away", status not in ("still running", 0), status)
sys.exit(1 if checks.failures else 0)
