"""qz5-settings on a private X server, driven as a user would through AT-SPI
and real input events, against qz5d on the emulated keyboard in a private
world."""

import unittest

from window_user import WindowTest, WindowUser


class SettingsWindow(WindowTest):
    def setUp(self):
        super().setUp()
        self.u = WindowUser(self.w)

    def test_edit_apply_and_follow_the_keyboard(self):
        w, u = self.w, self.u
        # No daemon yet: the window says so; editing still writes the file.
        u.status("qz5d is not running")
        # CapsLock produces Escape in profile 2; a misspelt key is refused in words.
        u.click("Profile 2")
        u.click("A key", "push button")
        u.type_into(u.node("Key it produces", "entry"), "Escpae")
        u.label(lambda n: "Escpae" in n and "Escape" in n, "the refusal naming the nearest key")
        u.click("CapsLock key")
        u.type_into(u.node("Key it produces", "entry"), "Escape")
        u.pending("2 key CapsLock Escape")
        # A key captured as it is pressed, then put back.
        u.click("Grave key")
        u.click("Press the key")
        u.xdotool("key", "F5")
        u.pending("2 key Grave F5")
        u.click("Default")
        u.pending("2 key Grave default")
        u.click("Apply and save")
        u.label(lambda n: n.endswith("Written but not sent to the keyboard: apply 2 --save."), "the change kept to send")
        self.assertIn("2 key CapsLock Escape", w.qz5ctl("show", "--file", w.settings, check=True).stdout.splitlines())

        # qz5d starts: the window notices.
        w.serve()
        u.status("Keyboard present")
        u.click("Profile 2")

        # T3 launches a program.
        launch = w.write("launch.sh", "#!/bin/sh\n", 0o755)
        u.click("T-keys and mapping keys")
        u.click("T3")
        u.type_into(u.node("Launch path", "text"), launch)
        u.label(lambda n: n == "T3: launch " + launch, "T3's new action")

        # The lighting: style 2 and the WASD zone turned over.
        u.click("Lighting and game mode")
        u.choose("Light style", 2)
        u.pending("light style 2")
        u.pointer_click(u.node("Zone wasd lit", "check box"))
        u.pending("light wasd")

        # Apply and save: profile 2 in full with the save (written before and
        # now), then the lighting, exactly as qz5ctl sends them for the file
        # the window wrote.
        def apply_and_save():
            u.click("Apply and save")
            u.label(lambda n: n.startswith("Sending the lighting"), "the profile sent, the lighting next", 60)
        sent = w.requests_after(apply_and_save, changes=2)
        u.label(lambda n: n.startswith("Sending the lighting: done"), "the lighting's completion")
        profile = w.qz5ctl("requests", w.settings, "2", "--save", check=True).stdout.splitlines()
        lighting = w.requests_after(lambda: w.qz5ctl("lighting", check=True))
        self.assertEqual(sent, profile + lighting)
        shown = w.qz5ctl("show", "--file", w.settings, check=True).stdout.splitlines()
        for line in ["2 key CapsLock Escape", f'2 T3 launch "{launch}"', "light style 2 zones wasd"]:
            self.assertIn(line, shown)
        u.label(lambda n: n == "No changes waiting.", "an empty list of changes")

        # The profile key on the keyboard moves the window to that profile.
        w.emulator("report 8 00 00 f3 00 00 00 00 00")
        u.status("profile 3")
        u.label(lambda n: n == "Profile 3, T3", "the T-keys of profile 3")

        # Unplugged and plugged again: the window follows without being asked.
        w.emulator("unplug")
        u.status("No keyboard attached")
        w.emulator("plug")
        u.status("Keyboard present")


if __name__ == "__main__":
    unittest.main()
