"""qz5-settings in a private world, and a user at it: controls found through
AT-SPI (dogtail) by the names the window gives them, acted on by their
actions or by real X input (xdotool). For the window's tests and its
screenshots. Every wait has a deadline."""

import os
import subprocess
import unittest

import world
from world import wait_for

APP = os.path.join(world.BUILD, "app/qz5-settings")


class WindowTest(unittest.TestCase):
    """A test in a private world with its session bus and logind."""

    def setUp(self):
        self.w = world.World()
        self.addCleanup(self.w.close)
        self.w.start_bus("session")
        self.w.start_logind()


class WindowUser:
    def __init__(self, w, screen="1280x960x24"):
        """Starts an X server, the accessibility bus and qz5-settings in the
        world w (whose session bus is up), and waits for the window."""
        self.w = w
        x = world.XServer(screen=screen)
        w.procs.append(x.proc)
        w.env["DISPLAY"] = x.display
        w.env.pop("NO_AT_BRIDGE", None)
        w.env["GSK_RENDERER"] = "cairo"  # the first frame in ~0.4 s rather than ~2 s with GL
        if not os.path.exists(w.settings):
            w.qz5ctl("settings", "init", w.settings, check=True)
        # The accessibility bus, as a desktop session starts it.
        w.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], stderr=w.file("atspi.err"))
        # pyatspi reads the session bus from the environment when imported.
        os.environ.update({k: w.env[k] for k in ("DBUS_SESSION_BUS_ADDRESS", "DISPLAY")})
        from dogtail.config import config
        config.checkForA11y = False
        config.searchCutoffCount = 1
        config.logDebugToFile = False
        import dogtail.tree
        self.tree = dogtail.tree
        w.spawn([APP], stderr=w.file("app.err"))
        self.app = wait_for(self._find_app, 20, "qz5-settings on the accessibility bus")

    def _find_app(self):
        try:
            return next((a for a in self.tree.root.applications() if a.name == "qz5-settings"), None)
        except Exception:  # the registry is still coming up
            return None

    def node(self, name, role=None, timeout=10):
        """The first control (not a label) called name, of role if given."""
        def found():
            return self.app.findChild(lambda n: n.name == name and n.roleName != "label" and
                                      (role is None or n.roleName == role), retry=False, requireResult=False)
        return wait_for(found, timeout, f"a control named {name!r}")

    def label(self, predicate, what, timeout=15):
        """The text of the first label that predicate accepts."""
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

    def choose(self, dropdown, downs):
        """Opens a dropdown and moves downs rows down: AT-SPI cannot choose in its popover."""
        self.node(dropdown, "combo box").findChild(lambda n: n.roleName == "push button").doActionNamed("click")
        self.xdotool("key", "--delay", "50", *["Down"] * downs, "Return")

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.w.env, check=True)

    def status(self, text):
        return self.label(lambda n: text in n, f"the status line saying {text!r}")

    def pending(self, text):
        return self.label(lambda n: "not applied" in n and text in n, f"{text!r} among the changes not applied")

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.w.env, check=True)
