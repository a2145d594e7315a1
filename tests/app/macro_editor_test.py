"""The macro editor, opened from qz5-settings on a private X server against
qz5d on the emulated keyboard, driven as a user drives it: controls through
AT-SPI (dogtail) and mnemonics, keys typed into the recorder by xdotool with
known gaps."""

import re
import subprocess
import unittest

from window_user import WindowTest, WindowUser
from world import wait_for

# Recorded delays may come late by the X server's and GTK's scheduling, never
# early by more than the millisecond of event time rounding.
TOLERANCE_MS = 60


class MacroEditor(WindowTest):
    def setUp(self):
        super().setUp()
        # T2's macro takes most of profile 1's macro memory.
        self.w.qz5ctl("settings", "init", self.w.settings, check=True)
        for args in (("macro", "import", "1", "T2", self.w.write("big.txt", "tap A\n" * 2700)),
                     ("set", "1", "T2", "macro")):
            self.w.qz5ctl("--file", self.w.settings, *args, check=True)
        self.u = WindowUser(self.w)
        self.w.serve()
        self.u.status("Keyboard present")
        self.u.click("Profile 1")
        self.u.click("T-keys and mapping keys")

    def open(self, key):
        self.u.click(key)
        self.u.click("Edit macro")
        title = f"Macro of {key}, profile 1"
        self.window = wait_for(lambda: self.u.app.findChild(lambda n: n.roleName == "frame" and n.name == title,
                                                            recursive=False, retry=False, requireResult=False),
                               30, title)
        self.xid = wait_for(lambda: self.x("search", "--name", f"^{title}$"), 10, "its X window")

    def x(self, *args):
        return subprocess.run(["xdotool", *args], env=self.w.env, capture_output=True, text=True).stdout.strip()

    def keys(self, *args, xid=None):
        self.x("windowfocus", "--sync", xid or self.xid, *args)

    def node(self, role, name, within=None):
        # GTK 4.8 names a labelled control by its label twice over ("Add Add").
        return (within or self.window).findChild(
            lambda n: n.roleName == role and n.name.replace("_", "") in (name, f"{name} {name}"))

    def click(self, name, then=None):
        self.node("push button", name).doActionNamed("click")
        if then:
            wait_for(then, 10, f"the effect of {name}")

    def steps(self):
        rows = self.window.findChild(lambda n: n.roleName == "list" and n.name == "Steps").children
        return [re.sub(r"^\d+\. ", "", r.children[0].name) for r in rows if r.children]

    def apply_delays(self, mnemonic, mode, then):
        self.keys("key", f"alt+{mnemonic}")
        wait_for(lambda: self.node("check box", mode).checked, 10, f"{mode} chosen")
        self.click("Apply to every delay", then)
        return self.steps()

    def file_dialog(self, title, accept, path):
        """Types path into the file chooser's location and accepts."""
        dialog = wait_for(lambda: self.u.app.findChild(lambda n: n.name == title, recursive=False, retry=False,
                                                       requireResult=False), 10, title)
        xid = wait_for(lambda: self.x("search", "--onlyvisible", "--name", f"^{title}$"), 10, title).split()[0]
        self.keys("key", "ctrl+l" if accept == "Import" else "ctrl+a", "type", "--delay", "5", path, xid=xid)
        wait_for(lambda: self.node("push button", accept, dialog).sensitive, 10, f"{accept} to take the path")
        self.node("push button", accept, dialog).doActionNamed("click")
        wait_for(lambda: not self.x("search", "--onlyvisible", "--name", f"^{title}$"), 10, f"{title} to close")

    def test_hello_recorded_on_t1_reaches_the_keyboard(self):
        w, u = self.w, self.u
        self.open("T1")
        # "hello" typed with known gaps (key held, then to the next key), ended
        # by the stop key, which is not recorded.
        typed = [("h", 70, 90), ("e", 60, 110), ("l", 50, 80), ("l", 55, 100), ("o", 65, 0)]
        script = []
        for key, held, gap in typed:
            script += ["keydown", "--delay", "0", key, "sleep", str(held / 1000), "keyup", "--delay", "0", key,
                       "sleep", str(gap / 1000)]
        self.click("Record", lambda: self.node("push button", "Stop recording"))
        self.keys()
        subprocess.run(["xdotool", *script, "key", "--delay", "0", "Pause"], env=w.env, check=True)
        wait_for(lambda: self.node("push button", "Record"), 10, "the recording to stop")
        recorded = self.steps()
        self.assertEqual(recorded[::2], [f"{a} {k.upper()}" for k, *_ in typed for a in ("press", "release")])
        gaps = [g for _, held, gap in typed for g in (held, gap)][:-1]
        delays = [int(s.split()[1]) for s in recorded[1::2]]
        self.assertTrue(all(g - 1 <= d <= g + TOLERANCE_MS for g, d in zip(gaps, delays)), (gaps, delays))
        # A click and the wheel over the steps are recorded too; undone as one edit.
        self.click("Record", lambda: self.node("push button", "Stop recording"))
        self.u.pointer_click([r for r in self.window.findChild(lambda n: n.name == "Steps").children if r.children][-1])
        self.x("click", "5", "key", "Pause")
        wait_for(lambda: self.node("push button", "Record") and self.steps() != recorded, 10, "the click and the wheel")
        self.assertRegex(" / ".join(self.steps()[len(recorded):]), r"^click left( / delay \d+)? / wheel down$")
        self.click("Undo", lambda: self.steps() == recorded)

        # Rounded to 50 ms, then every delay 50 ms, then none; undo and redo between them.
        self.keys("key", "alt+t", "ctrl+a", "type", "50")
        self.keys("key", "Return")
        rounded = self.apply_delays("s", "as recorded,", lambda: self.steps() != recorded)
        self.assertEqual([int(s.split()[1]) % 50 for s in rounded if s.startswith("delay")], [0] * 9, rounded)
        fixed = self.apply_delays("y", "a fixed delay", lambda: self.steps() != rounded)
        self.assertEqual(fixed[1::2], ["delay 50"] * 9)
        self.assertEqual(self.apply_delays("o", "none", lambda: self.steps() != fixed), recorded[::2])
        self.click("Undo", lambda: self.steps() == fixed)
        self.click("Undo", lambda: self.steps() == rounded)
        self.click("Redo", lambda: self.steps() == fixed)

        # A left click at the end and a name; exported, changed, imported back.
        # From the keyboard: into the list from the step field, its last step, Add click.
        self.keys("key", "alt+p", "shift+Tab", "End", "alt+c")
        wait_for(lambda: self.steps()[-1:] == ["click left"], 10, "the click after the last step")
        final = self.steps()
        self.keys("key", "alt+n", "type", "hello")
        exported = w.path("hello.txt")
        self.click("Export…")
        self.file_dialog("Export the macro", "Export", exported)
        self.click("Delete", lambda: self.steps() != final)
        self.click("Import…")
        self.file_dialog("Import a macro", "Import", exported)
        wait_for(lambda: self.steps() == final, 10, "the imported steps")

        # Used and applied with the save: the keyboard receives what qz5ctl
        # sends for the file the window wrote, the macro as exported.
        self.click("Use macro")
        u.pending("1 T1 macro, 20 steps")
        sent = w.requests_after(lambda: u.click("Apply and save"))
        self.assertEqual(sent, w.qz5ctl("requests", w.settings, "1", "--save", check=True).stdout.splitlines())
        self.assertIn("840b01", " ".join(sent))  # H pressed, in the macro data
        self.assertEqual(w.qz5ctl("--file", w.settings, "macro", "export", "1", "T1", check=True).stdout,
                         open(exported).read())
        self.assertIn('"hello": 20 steps', open(exported).read())

    def test_a_macro_over_capacity_cannot_be_used(self):
        before = open(self.w.settings, "rb").read()
        self.open("T4")
        self.click("Import…")
        self.file_dialog("Import a macro", "Import", self.w.write("more.txt", "tap B\n" * 1500))
        refusal = wait_for(lambda: self.window.findChild(lambda n: n.roleName == "label" and "Cannot" in n.name,
                                                         retry=False, requireResult=False), 10, "the refusal")
        self.assertRegex(refusal.name, r"3000 of 5440 steps on T4.*\nCannot be used: profile 1's keys would take "
                                       r"\d+ bytes of the keyboard's 20480-byte macro memory, \d+ bytes over")
        self.assertFalse(self.node("push button", "Use macro").sensitive)
        self.click("Cancel")  # the imported steps are thrown away only when the user says so
        self.node("push button", "Discard", self.u.app).doActionNamed("click")
        wait_for(lambda: not self.x("search", "--onlyvisible", "--name", "^Macro of T4"), 10, "the editor to close")
        self.u.label(lambda n: n.startswith("No changes waiting"), "no change waiting")
        self.assertEqual(open(self.w.settings, "rb").read(), before)


if __name__ == "__main__":
    unittest.main()
