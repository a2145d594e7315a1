"""qz5-settings on a private X server, driven as a user would through AT-SPI
(dogtail) and real input events (xdotool), against qz5d on the emulated
keyboard in a private world."""

import os
import subprocess
import sys
import unittest

import world
from world import wait_for

APP = os.path.join(world.BUILD, "app/qz5-settings")


class SettingsWindow(unittest.TestCase):
    def setUp(self):
        self.w = world.World()
        self.addCleanup(self.w.close)
        w = self.w
        w.start_bus("session")
        w.start_logind()
        x = world.XServer(screen="1280x960x24")
        w.procs.append(x.proc)
        w.env["DISPLAY"] = x.display
        w.env.pop("NO_AT_BRIDGE", None)
        w.env["GSK_RENDERER"] = "cairo"  # the first frame in ~0.4 s rather than ~2 s with GL
        w.qz5ctl("settings", "init", w.settings, check=True)
        # The accessibility bus, as a desktop session starts it.
        w.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], stderr=w.file("atspi.err"))
        os.environ.update({k: w.env[k] for k in ("DBUS_SESSION_BUS_ADDRESS", "DISPLAY")})
        from dogtail.config import config
        config.checkForA11y = False
        config.searchCutoffCount = 1
        config.logDebugToFile = False
        import dogtail.tree
        self.tree = dogtail.tree
        w.spawn([APP], stderr=w.file("app.err"))
        self.app = wait_for(self.find_app, 20, "qz5-settings on the accessibility bus")

    def find_app(self):
        try:
            return next((a for a in self.tree.root.applications() if a.name == "qz5-settings"), None)
        except Exception:  # the registry is still coming up
            return None

    # --- acting as a user ------------------------------------------------------

    def node(self, name, role=None, timeout=10):
        """The first control called name (of role), waited for."""
        def found():
            return self.app.findChild(lambda n: n.name == name and (role is None or n.roleName == role) and
                                      n.roleName != "label" or role == "label" and n.name == name,
                                      retry=False, requireResult=False)
        return wait_for(found, timeout, f"a control named {name!r}")

    def label(self, predicate, what, timeout=15):
        """The text of the first label that predicate accepts, waited for."""
        def found():
            n = self.app.findChild(lambda n: n.roleName == "label" and predicate(n.name), retry=False,
                                   requireResult=False)
            return n.name if n else None
        return wait_for(found, timeout, what)

    def click(self, name, role=None):
        self.node(name, role).doActionNamed("click")

    def pointer_click(self, node):
        # GTK 4 reports positions in the window, which sits at 0,0 without a window manager.
        (x, y), (width, height) = node.position, node.size
        self.xdotool("mousemove", str(x + width // 2), str(y + height // 2), "click", "1")

    def type_into(self, node, text):
        self.pointer_click(node)
        self.xdotool("type", "--delay", "5", text)
        self.xdotool("key", "Return")

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.w.env, check=True)

    def status(self, text):
        return self.label(lambda n: text in n, f"the status line saying {text!r}")

    def pending(self, text):
        return self.label(lambda n: "not applied" in n and text in n, f"{text!r} among the changes not applied")

    # --- the story -------------------------------------------------------------

    def test_edit_apply_and_follow_the_keyboard(self):
        w = self.w
        # No daemon yet: the window says so, and notices when one starts.
        self.status("qz5d is not running")
        w.serve()
        self.status("Keyboard present")

        # CapsLock produces Escape in profile 2; a misspelt key is refused in words.
        self.click("Profile 2")
        self.click("A key", "push button")
        self.type_into(self.node("Key it produces", "entry"), "Escpae")
        self.label(lambda n: "Escpae" in n and "Escape" in n, "the refusal naming the nearest key")
        self.click("CapsLock key")
        self.type_into(self.node("Key it produces", "entry"), "Escape")
        self.pending("2 key CapsLock Escape")

        # T3 launches a program.
        launch = w.write("launch.sh", "#!/bin/sh\n", 0o755)
        self.click("T-keys and mapping keys")
        self.click("T3")
        self.type_into(self.node("Launch path", "text"), launch)
        self.label(lambda n: n == "T3: launch " + launch, "T3's new action")

        # The lighting: style 2 and the WASD zone turned over.
        self.click("Lighting and game mode")
        self.node("Light style", "combo box").findChild(lambda n: n.roleName == "push button").doActionNamed("click")
        self.xdotool("key", "--delay", "50", "Down", "Down", "Return")
        self.pending("light style 2")
        self.pointer_click(self.node("Zone wasd lit", "check box"))
        self.pending("light wasd")

        # Apply and save: profile 2 in full with the save, then the lighting,
        # exactly as qz5ctl sends them for the file the window wrote.
        def apply_and_save():
            self.click("Apply and save")
            self.label(lambda n: n.startswith("Sending the lighting"), "the profile sent, the lighting next", 60)
        sent = w.requests_after(apply_and_save, changes=2)
        self.label(lambda n: n.startswith("Sending the lighting: done"), "the lighting's completion")
        profile = w.qz5ctl("requests", w.settings, "2", "--save", check=True).stdout.splitlines()
        lighting = w.requests_after(lambda: w.qz5ctl("lighting", check=True))
        self.assertEqual(sent, profile + lighting)
        shown = w.qz5ctl("show", "--file", w.settings, check=True).stdout.splitlines()
        for line in ["2 key CapsLock Escape", f'2 T3 launch "{launch}"', "light style 2 zones wasd"]:
            self.assertIn(line, shown)
        self.label(lambda n: n.startswith("No changes waiting"), "an empty list of changes")

        # The profile key on the keyboard moves the window to that profile.
        w.emulator("report 8 00 00 f3 00 00 00 00 00")
        self.status("profile 3")
        self.label(lambda n: n == "Profile 3, T3", "the T-keys of profile 3")


if __name__ == "__main__":
    unittest.main()
