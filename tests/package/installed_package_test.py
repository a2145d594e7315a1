"""The Debian packages on this machine: installed with apt-get, their files
and the units' state, the installed qz5d serving the emulated keyboard, then
removed and purged without a trace.

Run by scripts/test, as root, after scripts/package built build/package/.
It installs onto the machine itself (no chroot: the emulated keyboard needs
the build's qz5-emulator and umockdev, which a fresh root would have to be
given too) and purges what it installed before it ends, also on failure."""

import glob
import os
import pwd
import stat
import subprocess
import unittest

from world import World

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "../.."))
PACKAGES = os.path.join(ROOT, "build", "package")
MARK = os.path.join(PACKAGES, "installed-by-the-check")  # a run that died before purging
ENABLED = "/etc/systemd/system/multi-user.target.wants/qz5d.service"
FILES = {  # path: mode
    "/usr/sbin/qz5d": 0o755, "/usr/bin/qz5ctl": 0o755, "/usr/libexec/qz5-osd": 0o755,
    "/lib/udev/rules.d/70-qz5.rules": 0o644, "/lib/systemd/system/qz5d.service": 0o644,
    "/usr/lib/systemd/user/qz5d.service": 0o644,
    "/usr/share/dbus-1/interfaces/org.qz5d.Notifications1.xml": 0o644,
    "/usr/share/metainfo/org.qz5d.qz5d.metainfo.xml": 0o644,
    "/usr/share/man/man8/qz5d.8.gz": 0o644, "/usr/share/man/man1/qz5ctl.1.gz": 0o644,
    "/usr/share/doc/qz5d/protocol.md.gz": 0o644,
    "/usr/share/bash-completion/completions/qz5ctl": 0o644,
    "/usr/bin/qz5-settings": 0o755, "/usr/share/applications/org.qz5d.Settings.desktop": 0o644,
    "/usr/share/metainfo/org.qz5d.Settings.metainfo.xml": 0o644,
    "/usr/share/icons/hicolor/scalable/apps/org.qz5d.Settings.svg": 0o644,
}
PACKAGE_NAMES = ("qz5d", "qz5-osd", "qz5-settings")


def run(*cmd, check=True, env=None):
    env = dict(env or os.environ, DEBIAN_FRONTEND="noninteractive")
    r = subprocess.run(cmd, capture_output=True, text=True, env=env, timeout=600)
    if check and r.returncode != 0:
        raise AssertionError(f"{' '.join(cmd)} failed ({r.returncode}):\n{r.stdout}{r.stderr}")
    return r


def installed(package):
    r = run("dpkg-query", "-W", "-f=${Status}", package, check=False)
    return r.returncode == 0 and "installed" in r.stdout.split()


def purge():
    run("apt-get", "purge", "-y", *PACKAGE_NAMES)
    if os.path.exists(MARK):
        os.remove(MARK)


class InstalledPackage(unittest.TestCase):
    def setUp(self):
        if installed("qz5d"):
            if not os.path.exists(MARK):
                self.fail("qz5d is installed on this machine already; this check installs and purges its own")
            purge()
        self.debs = [glob.glob(os.path.join(PACKAGES, f"{p}_*.deb")) for p in PACKAGE_NAMES]
        self.assertTrue(all(len(d) == 1 for d in self.debs), f"run scripts/package first: {self.debs}")

    def test_install_serve_purge(self):
        open(MARK, "w").close()
        self.addCleanup(lambda: installed("qz5d") and purge())
        run("apt-get", "install", "-y", "--no-install-recommends", *(d[0] for d in self.debs))

        listed = set(run("dpkg", "-L", *PACKAGE_NAMES).stdout.split())
        for path, mode in FILES.items():
            self.assertIn(path, listed)
            st = os.stat(path)
            self.assertEqual((stat.S_IMODE(st.st_mode), st.st_uid, st.st_gid), (mode, 0, 0), path)
        # The system unit is the default: enabled. The user unit of the same
        # name is not (two daemons on one session bus cannot both serve).
        self.assertEqual(os.readlink(ENABLED), "/lib/systemd/system/qz5d.service")
        self.assertFalse(glob.glob("/etc/systemd/user/*/qz5d.service"))
        self.assertRegex(run("/usr/sbin/qz5d", "--version").stdout, r"^qz5d \S+")

        self.serve_with_the_installed_programs()

        files = [p for p in listed if not os.path.isdir(p)]
        purge()
        self.assertFalse(any(installed(p) for p in PACKAGE_NAMES))
        self.assertEqual([p for p in files + [ENABLED] if os.path.lexists(p)], [])
        self.assertFalse(glob.glob("/var/lib/systemd/deb-systemd-helper-*/**/qz5d.service*", recursive=True))
        # No installed daemon left running (other builds' daemons may be).
        self.assertEqual(run("pgrep", "-f", "^/usr/sbin/qz5d", check=False).stdout, "")

    def serve_with_the_installed_programs(self):
        # The installed build keeps each user's settings in ~/.config/qz5:
        # the file qz5ctl edits is the one the daemon reads, with no variable set.
        w = World()
        self.addCleanup(w.close)
        home = w.path("home")
        os.makedirs(os.path.join(home, ".config/qz5"))
        settings = os.path.join(home, ".config/qz5/Setting.xml")
        w.env.pop("QZ5_SETTINGS_FILE")
        w.env["HOME"] = home
        w.settings = settings
        ctl = lambda *a: run("/usr/bin/qz5ctl", *a, env=w.env)
        ctl("settings", "init", settings)
        ctl("set", "2", "t1", "key", "F5")
        w.start_bus("session")
        w.start_logind()
        w.add_session("c1", 0, pwd.getpwuid(0).pw_name)
        w.start_daemon(command=["/usr/sbin/qz5d"])
        w.ready()
        expected = ctl("requests", settings, "2").stdout.splitlines()
        self.assertEqual(w.requests_after(lambda: ctl("apply", "2")), expected)
        # The installed daemon finds the installed on-screen display (which
        # finds no display here and says so).
        ctl("osd", "0xF2")
        w.wait_log(r"qz5-osd exited with status 3 \(no display")
        self.assertEqual(w.stop_daemon(), 0)


if __name__ == "__main__":
    unittest.main()
