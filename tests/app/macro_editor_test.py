#!/usr/bin/python3
"""The macro editor under a private X server, driven as a user drives it:
buttons through AT-SPI (dogtail), keys typed into the recorder by xdotool
with known gaps; on its own over a settings file (a test-only host), and
from qz5-settings against qz5d on the emulated keyboard. Run inside its own
session bus (dbus-run-session), which the accessibility bus joins."""

import os
import re
import subprocess
import sys
import unittest

import world
from world import World, wait_for

HOST = os.path.join(world.BUILD, "tests/app/qz5-macro-editor-host")
QZ5CTL = world.QZ5CTL
# Recorded delays may come late by the X server's and GTK's scheduling, never
# early by more than the millisecond of event time rounding.
TOLERANCE_MS = 40

from dogtail.config import config  # noqa: E402

config.checkForA11y = False
config.searchCutoffCount = 5
config.logDebugToFile = False
import dogtail.tree as tree  # noqa: E402


class EditorUser:
    """A user at a macro editor window (self.window, its X window self.xid)."""

    def screenshot(self):
        """What the screen showed when a test failed, beside the build's other test files."""
        result = self._outcome.result
        if any(t is self for t, _ in result.errors + result.failures):
            path = os.path.join(os.environ.get("QZ5_BUILD", "."), f"macro_editor-{self._testMethodName}.png")
            subprocess.run(["import", "-window", "root", path], env=self.env)
            print("the screen at the failure:", path, file=sys.stderr)

    def x(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True).stdout.strip()

    def node(self, role, name, within=None):
        # GTK 4.8 names a labelled control by its label twice over ("Add Add").
        return (within or self.window).findChild(
            lambda n: n.roleName == role and n.name.replace("_", "") in (name, f"{name} {name}"))

    def button(self, name):
        return self.node("push button", name)

    def click(self, name, then=None):
        self.button(name).doActionNamed("click")
        if then:
            wait_for(then, 10, f"the effect of {name}")

    def steps(self):
        rows = self.window.findChild(lambda n: n.roleName == "list" and n.name == "Steps").children
        return [re.sub(r"^\d+\. ", "", r.children[0].name) for r in rows if r.children]

    def message(self):
        return self.window.findChild(lambda n: n.roleName == "label" and "Cannot be used" in n.name,
                                     retry=False, requireResult=False)

    def choose(self, mnemonic, radio):
        """Chooses a delay mode from the keyboard, by its mnemonic."""
        self.x("windowfocus", "--sync", self.xid, "key", f"alt+{mnemonic}")
        wait_for(lambda: self.node("check box", radio).checked, 10, f"{radio} chosen")

    def fill(self, mnemonic, text):
        """Types text into a field as a user does: its mnemonic, select all, type, Return."""
        self.x("windowfocus", "--sync", self.xid, "key", f"alt+{mnemonic}", "ctrl+a", "type", "--delay", "5", text)
        self.x("windowfocus", "--sync", self.xid, "key", "Return")

    def type_keys(self, script):
        """xdotool commands in one process, so that its sleeps are the only gaps."""
        self.x("windowfocus", "--sync", self.xid)
        subprocess.run(["xdotool", *script], env=self.env, check=True)

    def dialog_path(self, title, path, accept):
        """Types path into the file chooser (its location entry) and accepts."""
        dialog = wait_for(lambda: self.app.findChild(lambda n: n.name == title, recursive=False, retry=False,
                                                     requireResult=False), 10, f"the {title} dialog")
        xid = wait_for(lambda: self.x("search", "--onlyvisible", "--name", "^" + title + "$"), 10, title).split()[0]
        self.x("windowfocus", "--sync", xid, "key", "ctrl+l" if accept == "Import" else "ctrl+a")
        self.x("windowfocus", "--sync", xid, "type", "--delay", "5", path)
        ok = wait_for(lambda: (lambda b: b if b.sensitive else None)(self.node("push button", accept, dialog)), 10,
                      f"{accept} to take the path")
        ok.doActionNamed("click")
        wait_for(lambda: not self.x("search", "--onlyvisible", "--name", "^" + title + "$"), 10, f"{title} to close")

    def find_editor(self, app, title):
        self.window = wait_for(lambda: app.findChild(lambda n: n.roleName == "frame" and n.name == title,
                                                     recursive=False, retry=False, requireResult=False),
                               30, f"the window {title}")
        self.xid = wait_for(lambda: self.x("search", "--name", "^" + re.escape(title) + "$"), 10, "the X window")

    def record(self, keys):
        """Records keys, a list of (key, held ms, ms to the next): each a press
        and a release typed by xdotool, then the stop key; the steps."""
        self.click("Record", lambda: self.button("Stop recording"))
        script = []
        for key, held, gap in keys:
            script += ["keydown", "--delay", "0", key, "sleep", str(held / 1000), "keyup", "--delay", "0", key,
                       "sleep", str(gap / 1000)]
        self.type_keys(script + ["key", "--delay", "0", "Pause"])
        wait_for(lambda: self.button("Record"), 10, "the recording to stop")
        return self.steps()



class MacroEditorTest(EditorUser, unittest.TestCase):
    def setUp(self):
        self.w = World()
        self.addCleanup(self.w.close)
        self.w.env["DBUS_SESSION_BUS_ADDRESS"] = os.environ["DBUS_SESSION_BUS_ADDRESS"]
        self.w.start_display()
        self.env = dict(self.w.env, GSK_RENDERER="cairo", GTK_A11Y="atspi")
        self.env.pop("NO_AT_BRIDGE", None)
        self.qz5ctl("settings", "init", self.w.settings)
        self.addCleanup(self.screenshot)

    def qz5ctl(self, *args):
        return subprocess.run([QZ5CTL, "--file", self.w.settings, *args] if args[0] != "settings" else [QZ5CTL, *args],
                              capture_output=True, text=True, check=True).stdout

    def open(self, key="T1"):
        self.host = self.w.spawn([HOST, self.w.settings, "1", key], env=self.env, stdout=subprocess.PIPE, text=True)
        self.assertEqual(self.host.stdout.readline(), "ready\n")
        self.app = wait_for(lambda: next((a for a in tree.root.applications() if a.name == os.path.basename(HOST)),
                                         None), 30, "the editor on the accessibility bus")
        self.find_editor(self.app, f"Macro of {key}, profile 1")

    def test_record_edit_and_store(self):
        self.open()
        # "hi" typed with known gaps, then the stop key, which is not recorded.
        gaps = [80, 120, 60, 150]
        got = self.record([("h", 80, 120), ("i", 60, 150)])
        self.assertEqual([s for s in got if not s.startswith("delay")],
                         ["press H", "release H", "press I", "release I"], got)
        delays = [int(s.split()[1]) for s in got if s.startswith("delay")]
        self.assertEqual(len(delays), 3, got)
        for want, d in zip(gaps, delays):
            self.assertTrue(want - 1 <= d <= want + TOLERANCE_MS, f"delay {d} for a gap of {want} ms: {got}")
        recorded = got

        # Round to 50 ms, then every delay 50 ms, then none: each undoes to the one before.
        self.fill("t", "50")  # rounded to
        self.click("Apply to every delay", lambda: self.steps() != recorded)
        rounded = self.steps()
        self.assertTrue(all(int(s.split()[1]) % 50 == 0 for s in rounded if s.startswith("delay")), rounded)
        self.choose("y", "a fixed delay")
        self.click("Apply to every delay", lambda: self.steps() != rounded)
        self.assertEqual(self.steps(), ["press H", "delay 50", "release H", "delay 50", "press I", "delay 50",
                                        "release I"])
        fixed = self.steps()
        self.choose("o", "none")
        self.click("Apply to every delay", lambda: self.steps() != fixed)
        self.assertEqual(self.steps(), ["press H", "release H", "press I", "release I"])
        self.click("Undo", lambda: self.steps() == fixed)
        self.click("Undo", lambda: self.steps() == rounded)
        self.click("Redo", lambda: self.steps() == fixed)

        # A left click at the end, a name, then export; a changed macro
        # imports the file back to the same steps.
        self.click("Add click", lambda: self.steps()[-1] == "click left")
        final = self.steps()
        self.fill("n", "hi there")
        exported = self.w.path("hi.txt")
        self.click("Export…")
        self.dialog_path("Export the macro", exported, "Export")
        wait_for(lambda: os.path.exists(exported), 10, "the exported file")
        self.click("Delete", lambda: self.steps() != final)
        self.click("Import…")
        self.dialog_path("Import a macro", exported, "Import")
        wait_for(lambda: self.steps() == final, 10, "the imported steps")

        self.click("Use macro")
        self.assertEqual(self.host.stdout.readline(), f"stored {len(final)} steps\n")
        self.assertEqual(self.qz5ctl("macro", "export", "1", "T1"), open(exported).read())
        self.assertIn('macro "hi there"', open(exported).read())

    def test_over_capacity_is_refused(self):
        # T2's macro takes most of the memory; T4's would take the rest and more.
        self.qz5ctl("macro", "import", "1", "T2", self.w.write("big.txt", "tap A\n" * 2700))
        self.qz5ctl("set", "1", "T2", "macro")
        big = self.w.write("more.txt", "tap B\n" * 1500)
        before = open(self.w.settings, "rb").read()
        self.open("T4")
        self.click("Import…")
        self.dialog_path("Import a macro", big, "Import")
        label = wait_for(self.message, 10, "the capacity refusal")
        self.assertRegex(label.name, r"\nCannot be used: profile 1's keys would take \d+ bytes of the keyboard's "
                                     r"20480-byte macro memory, \d+ bytes over")
        self.assertFalse(self.button("Use macro").sensitive)
        self.click("Cancel")
        self.assertEqual(self.host.wait(10), 0)
        self.assertEqual(self.host.stdout.read(), "")
        self.assertEqual(open(self.w.settings, "rb").read(), before)


class MacroStory(EditorUser, unittest.TestCase):
    """A new user's macro: "hello" recorded on T1 with its natural timing,
    every delay made 50 ms, a left click added, applied from qz5-settings."""

    def setUp(self):
        self.w = World()
        self.addCleanup(self.w.close)
        self.w.env["DBUS_SESSION_BUS_ADDRESS"] = os.environ["DBUS_SESSION_BUS_ADDRESS"]
        self.w.start_logind()
        from window_user import WindowUser
        self.u = WindowUser(self.w)
        self.env = self.w.env
        self.addCleanup(self.screenshot)

    def test_hello_on_t1_reaches_the_keyboard(self):
        w, u = self.w, self.u
        w.serve()
        u.status("Keyboard present")
        u.click("Profile 1")
        u.click("T-keys and mapping keys")
        u.click("T1")
        u.click("Edit macro")
        self.app = u.app
        self.find_editor(u.app, "Macro of T1, profile 1")
        hello = [("h", 70, 90), ("e", 60, 110), ("l", 50, 80), ("l", 55, 100), ("o", 65, 0)]
        got = self.record(hello)
        self.assertEqual(len(got), 19, got)
        self.choose("y", "a fixed delay")
        self.click("Apply to every delay", lambda: self.steps()[1] == "delay 50")
        self.click("Add click", lambda: self.steps()[-1] == "click left")
        steps = self.steps()
        self.click("Use macro")
        u.pending("1 T1 macro, 20 steps")

        def apply_and_save():
            u.click("Apply and save")
        sent = w.requests_after(apply_and_save)
        self.assertEqual(sent, w.qz5ctl("requests", w.settings, "1", "--save", check=True).stdout.splitlines())
        exported = w.qz5ctl("macro", "export", "--file", w.settings, "1", "T1", check=True).stdout
        self.assertEqual(exported.splitlines()[1:], steps)
        self.assertEqual(steps[:4], ["press H", "delay 50", "release H", "delay 50"])
        # The macro's bytes are in the macro data the keyboard received.
        self.assertTrue(any(" : " in line and "840b01" in line.split(" : ")[1] for line in sent), sent)


if __name__ == "__main__":
    unittest.main(verbosity=2)
