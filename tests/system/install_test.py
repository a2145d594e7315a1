"""`cmake --install` into a DESTDIR, and the installed tree: programs where
the daemon and the user look for them, the udev rule, the systemd units, the
bash completion, the manual pages, and the D-Bus interface description against what the installed
daemon reports on a bus.

Arguments: the build folder, then NAME=VALUE pairs from CMake (the configured
installation paths and IDs)."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

BUILD = sys.argv[1]
CONF = dict(arg.split("=", 1) for arg in sys.argv[2:])
DEST = None  # the DESTDIR


def installed(path):
    return DEST + path


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=120, **kw)


def setUpModule():
    global DEST
    DEST = tempfile.mkdtemp(prefix="qz5-install-", dir=BUILD)
    result = run([CONF["CMAKE"], "--install", BUILD], env=dict(os.environ, DESTDIR=DEST))
    if result.returncode != 0:
        raise AssertionError("cmake --install failed:\n" + result.stdout + result.stderr)


def tearDownModule():
    shutil.rmtree(DEST, ignore_errors=True)


class Layout(unittest.TestCase):
    def test_programs(self):
        libexec_osd = CONF["LIBEXECDIR"] + "/qz5-osd"
        for path in (CONF["SBINDIR"] + "/qz5d", CONF["BINDIR"] + "/qz5ctl", libexec_osd):
            self.assertTrue(os.access(installed(path), os.X_OK), path)
        for name, path in (("qz5d", CONF["SBINDIR"]), ("qz5ctl", CONF["BINDIR"])):
            result = run([installed(path + "/" + name), "--version"])
            self.assertEqual((result.returncode, result.stdout), (0, f"{name} {CONF['VERSION']}\n"))
        # The installed daemon, away from the build tree, looks for the helper
        # in the folder it was built for.
        with open(installed(CONF["SBINDIR"] + "/qz5d"), "rb") as f:
            self.assertIn(CONF["LIBEXECDIR"].encode() + b"\0", f.read())
        everything = [os.path.join(d, f) for d, _, files in os.walk(DEST) for f in files]
        self.assertFalse([f for f in everything if "emulator" in f])
        # No test double reaches an installed program (they live in a library only tests link).
        for path in (CONF["SBINDIR"] + "/qz5d", CONF["BINDIR"] + "/qz5ctl", libexec_osd):
            symbols = run(["nm", "-C", installed(path)]).stdout
            self.assertIn("main", symbols, path)
            self.assertNotRegex(symbols, r"Recording(UsbBus|NotificationCenter|OsdDisplay|Launcher)|LogCapture", path)

    def test_bash_completion(self):
        result = run(["bash", "-c", 'source "$1" && complete -p qz5ctl', "_",
                      installed(CONF["BASH_COMPLETION_DIR"] + "/qz5ctl")])
        self.assertEqual(result.stdout, "complete -F _qz5ctl qz5ctl\n")


class UdevRule(unittest.TestCase):
    def test_rule(self):
        path = installed(CONF["UDEV_RULES_DIR"] + "/70-qz5.rules")
        with open(path) as f:
            text = f.read()
        # udev's own parser reads it (Debian 12's udevadm has no verify): udevadm
        # test, in a mount namespace whose /run holds this rule and nothing else.
        result = run(["unshare", "-rm", "sh", "-c", 'mount -t tmpfs none /run && mkdir -p /run/udev/rules.d && '
                      'cp "$0" /run/udev/rules.d/ && exec udevadm test /sys/class/net/lo', path])
        said = [l for l in (result.stdout + result.stderr).splitlines() if "70-qz5.rules" in l]
        self.assertEqual(said, ["Reading rules file: /run/udev/rules.d/70-qz5.rules"], result.stderr[-2000:])
        # Both the USB device and its hidraw nodes, by the build's IDs.
        rules = [l for l in text.splitlines() if l.strip() and not l.startswith("#")]
        vid, pid = (f"{int(CONF[k], 0):04x}" for k in ("VENDOR_ID", "PRODUCT_ID"))
        for subsystem, attr in (("usb", "ATTR"), ("hidraw", "ATTRS")):
            rule = [l for l in rules if f'SUBSYSTEM=="{subsystem}"' in l]
            self.assertEqual(len(rule), 1, subsystem)
            for needed in (f'{attr}{{idVendor}}=="{vid}"', f'{attr}{{idProduct}}=="{pid}"', 'TAG+="uaccess"'):
                self.assertIn(needed, rule[0])


class Units(unittest.TestCase):
    def verify(self, unit, *args):
        """systemd-analyze verify, on a copy whose ExecStart is the program in
        the DESTDIR; its Documentation pages are looked up there too."""
        with open(installed(unit)) as f:
            text = f.read()
        program = re.search(r"^ExecStart=(\S+)", text, re.M).group(1)
        self.assertEqual(program, CONF["SBINDIR"] + "/qz5d")
        scratch = tempfile.mkdtemp(dir=DEST)
        copy = os.path.join(scratch, "qz5d.service")
        with open(copy, "w") as f:
            f.write(text.replace("ExecStart=" + program, "ExecStart=" + installed(program)))
        env = dict(os.environ, MANPATH=installed(CONF["MANDIR"]), XDG_RUNTIME_DIR=scratch)
        result = run(["systemd-analyze", "verify", *args, copy], env=env)
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""), unit)
        return copy

    def test_system_unit(self):
        unit = self.verify(CONF["SYSTEM_UNIT_DIR"] + "/qz5d.service")
        # Its hardening stays at least where it is now ("OK": exposure 3.0 at most).
        result = run(["systemd-analyze", "security", "--offline=true", "--threshold=30", "--no-pager", unit])
        self.assertEqual(result.returncode, 0, result.stdout[-3000:] + result.stderr)

    def test_user_unit(self):
        self.verify(CONF["USER_UNIT_DIR"] + "/qz5d.service", "--user")


class ManPages(unittest.TestCase):
    def render(self, page):
        result = run(["man", "--warnings", "-l", "-Tutf8", installed(page)],
                     env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8"))
        self.assertEqual((result.returncode, result.stderr), (0, ""), page)
        return re.sub(".\b", "", result.stdout)  # no overstriking

    def test_pages(self):
        self.assertIn(f"qz5d {CONF['VERSION']}", self.render(CONF["MANDIR"] + "/man8/qz5d.8"))
        page = self.render(CONF["MANDIR"] + "/man1/qz5ctl.1")
        # Every command qz5ctl --help lists has its entry.
        help_text = run([installed(CONF["BINDIR"] + "/qz5ctl"), "--help"]).stdout
        commands = re.findall(r"^  (\S+)", help_text, re.M)
        self.assertGreater(len(commands), 10)
        entries = re.findall(r"^ {7}(\S+)", page, re.M)
        self.assertEqual(sorted(set(commands) - set(entries)), [])


    def test_settings_application(self):
        # In the desktop's menu with its icon, and described for software centres.
        share = os.path.dirname(CONF["MANDIR"])
        self.assertTrue(os.access(installed(CONF["BINDIR"] + "/qz5-settings"), os.X_OK))
        self.assertTrue(os.path.isfile(installed(share + "/icons/hicolor/scalable/apps/org.qz5d.Settings.svg")))
        for check in (["desktop-file-validate", installed(share + "/applications/org.qz5d.Settings.desktop")],
                      ["appstreamcli", "validate", "--no-net", installed(share + "/metainfo/org.qz5d.Settings.metainfo.xml")]):
            result = run(check)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("qz5-settings", self.render(CONF["MANDIR"] + "/man1/qz5-settings.1"))

class Introspection(unittest.TestCase):
    def test_daemon_reports_installed_description(self):
        with open(installed(CONF["DBUS_INTERFACES_DIR"] + "/org.qz5d.Notifications1.xml")) as f:
            described = interface(f.read())
        self.assertIsNotNone(described)
        if CONF["EMULATOR"] != "1":
            self.skipTest("no emulated keyboard in this build")
        sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../tools/emulator"))
        from world import World
        with World() as w:
            w.start_bus("session")
            w.start_logind()
            w.serve(command=[installed(CONF["SBINDIR"] + "/qz5d")])
            result = run(["gdbus", "introspect", "--session", "--dest", "org.qz5d.Daemon",
                          "--object-path", "/org/qz5d/Notifications1", "--xml"], env=w.env)
            self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(interface(result.stdout), described)


def interface(text):
    """org.qz5d.Notifications1 as nested (tag, attributes, children) tuples."""
    def canon(e):
        return (e.tag, sorted(e.attrib.items()), [canon(c) for c in e])
    for e in ET.fromstring(text).iter("interface"):
        if e.get("name") == "org.qz5d.Notifications1":
            return canon(e)
    return None


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
