"""What the on-screen display's test scripts share: named checks, counted as
they go, waits with a deadline, and the screen the window should make on a
1000 x 800 screen."""

import os
import subprocess
import time

failures = 0
WINDOW = (200, 130)
ORIGIN = (400, 570)  # centred; bottom edge 100 px above the screen's bottom
_pictures = {}


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


def exit_status(proc):
    try:
        return proc.wait(10)
    except subprocess.TimeoutExpired:
        return "still running"


def picture_rgba(folder, name):
    """(width, height, RGBA bytes) of a drawn picture."""
    if name not in _pictures:
        path = os.path.join(folder, name)
        size = subprocess.run(["/usr/bin/identify", "-format", "%w %h", path], capture_output=True, text=True).stdout
        rgba = subprocess.run(["/usr/bin/convert", path, "-depth", "8", "rgba:-"], capture_output=True).stdout
        _pictures[name] = (*map(int, size.split()), rgba)
    return _pictures[name]


def expected_screen(folder, name, margin, desktop, root=None):
    """The window's area and a margin around it as they should look, row by
    row. Over a compositor or a Wayland desktop (desktop: its colour) the
    picture blended over it. On a bare X server (desktop None) the picture
    drawn over black where it is at least half opaque (no alpha on the screen)
    and the root colour where the window's shape cuts it away; None where
    that is ambiguous."""
    pw, ph, rgba = picture_rgba(folder, name) if name else (0, 0, b"")
    px, py = (WINDOW[0] - pw) // 2 + margin, (WINDOW[1] - ph) // 2 + margin
    want = []
    for y in range(WINDOW[1] + 2 * margin):
        for x in range(WINDOW[0] + 2 * margin):
            p = rgba[4 * ((y - py) * pw + (x - px)):][:4] if px <= x < px + pw and py <= y < py + ph else None
            if p is None:
                want.append(desktop or root)
            elif desktop:
                want.append(tuple((c * p[3] + d * (255 - p[3])) // 255 for c, d in zip(p[:3], desktop)))
            else:
                want.append(tuple(c * p[3] // 255 for c in p[:3]) if p[3] >= 160 else root if p[3] <= 100 else None)
    return want


def differs(got, want, margin):
    """'' when the screenshot got matches want (None: any colour), else what differs."""
    width = WINDOW[0] + 2 * margin
    bad = [(i % width - margin, i // width - margin, g, w) for i, (g, w) in enumerate(zip(got, want))
           if w is not None and max(abs(a - b) for a, b in zip(g, w)) > 3]
    return bad and f"{len(bad)} pixels differ, first at window {bad[0][:2]}: {bad[0][2]}, want {bad[0][3]}" or ""


def wait_shows(shoot, want, margin, seconds):
    """'' once shoot() matches want within the deadline, else what still differs."""
    diffs = []
    wait_for(lambda: diffs.append(differs(shoot(), want, margin)) or not diffs[-1], seconds)
    return diffs[-1]
