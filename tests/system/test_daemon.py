"""qz5d as a whole process: login wait, user switch, the settings
application's notifications, status replies, ending, robustness."""

import glob
import os
import random
import re
import subprocess
import unittest

import dbus

from world import QZ5D, World, wait_for

SAVE = "40 03 00 00 00 00 00 00"


class WorldTest(unittest.TestCase):
    base = None

    def setUp(self):
        self.w = World(base=self.base)
        self.addCleanup(self.w.close)
        self.w.start_bus("session")
        self.w.start_logind()


class LoginWait(WorldTest):
    def test_waits_until_an_active_local_user_session_then_serves_and_ends_in_order(self):
        w = self.w
        w.start_daemon()
        # No seat at all: logind has no session state to give.
        w.wait_log(r"^Unable to get session dictionary\.$", count=2)
        w.add_seat()
        # Sessions that are not a console login: none of them starts the daemon.
        path = w.add_session("c1", 0, "root", active=False)
        marks = w.count_log("Unable to get")
        w.set_session(path, Active=True, State="active", Remote=True)
        w.set_session(path, Remote=False, Class="greeter")
        w.set_session(path, Class="user", State="online")
        self.assertEqual(w.requests(), [])
        self.assertEqual(w.count_log("Unable to get"), marks)
        self.assertEqual(w.count_log("logged in"), 0)
        w.set_session(path, State="active")
        w.ready(timeout=3)  # polled once a second
        self.assertIn("console user root (uid 0) logged in", w.log_lines())
        self.assertEqual(w.stop_daemon(), 0)
        # The last of the daemon's own lines (the OSD helper shares its standard error).
        self.assertEqual([l for l in w.log_lines() if not l.startswith("qz5-osd:")][-1], "m_pXMLconfig Release ")

    def test_stops_while_waiting(self):
        w = self.w
        w.start_daemon()
        w.wait_log("Unable to get session dictionary")
        self.assertEqual(w.stop_daemon(), 0)
        self.assertEqual(w.requests(), [])

    def test_no_input_device_ends_at_once_without_touching_the_keyboard(self):
        w = self.w
        w.add_session()
        w.start_daemon(command=["umockdev-run", "--", QZ5D])
        self.assertEqual(w.wait_exit(), 0)
        self.assertEqual(w.requests(), [])
        self.assertIn("no input device on this system; qz5d has nothing to serve and ends", w.log_lines())

    def test_one_daemon_per_session_bus_and_none_without_it(self):
        w = self.w
        w.serve()
        other = World()  # its own emulated keyboard, the same session bus
        self.addCleanup(other.close)
        other.env = dict(w.env)
        other.start_daemon()
        self.assertEqual(other.wait_exit(), 1)
        self.assertIn("another qz5d already runs on this session bus", "\n".join(other.log_lines()))
        self.assertEqual(other.requests(), [])
        # The bus goes away: the daemon says so and ends with status 1.
        w.procs[0].terminate()
        self.assertEqual(w.wait_exit(), 1)
        self.assertTrue(any("qz5d stops" in l for l in w.log_lines()))

    def test_a_post_made_the_moment_the_name_appears_is_carried_out(self):
        # The largest settings file keeps the daemon loading for longest,
        # which is when a name owned too early loses the post.
        largest = os.path.join(os.environ.get("QZ5_WORLD_DIR", "/tmp"), "largest-Setting.xml")
        if not os.path.exists(largest):
            subprocess.run(["/usr/bin/python3", os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../bench/gen_settings.py"), "largest",
                            largest + ".part"], check=True)
            os.replace(largest + ".part", largest)
        w = self.w
        w.add_session()
        bus = w.session_bus()
        owned = lambda: bus.name_has_owner("org.qz5d.Daemon")
        for _ in range(5):
            w.start_daemon(env={"QZ5_SETTINGS_FILE": largest})
            wait_for(owned, 60, "the daemon's name", interval=0.001)
            r = w.qz5ctl("osd", "0xf2")
            self.assertEqual(r.returncode, 0, r.stderr)
            w.wait_log("^QZ5SettingChangeNotifProc$")  # each start writes a new log
            self.assertEqual(w.stop_daemon(), 0)
            wait_for(lambda: not owned(), 10, "the name released")


@unittest.skipUnless(os.geteuid() == 0, "the user switch needs root")
class UserSwitch(WorldTest):
    base = "/tmp"  # the build folder may sit where another user cannot reach
    def test_becomes_the_console_user_with_their_groups(self):
        w = self.w
        w.start_daemon()
        w.wait_log("Unable to get session dictionary")
        # The emulated devices are the user's to open, as the udev rule makes them.
        for testbed in glob.glob(os.path.join(w.dir, "umockdev.*")):
            subprocess.run(["chmod", "-R", "a+rwX", testbed], check=True)
        w.add_session("c2", 65534, "nobody")
        w.ready()
        with open(f"/proc/{w.daemon_pid()}/status") as f:
            status = dict(l.split(":", 1) for l in f.read().splitlines())
        self.assertEqual(status["Uid"].split(), ["65534"] * 4)
        self.assertEqual(status["Gid"].split(), ["65534"] * 4)
        self.assertEqual(status["Groups"].split(), ["65534"])
        self.assertEqual(w.qz5ctl("status").returncode, 0)

    def test_a_switch_that_cannot_be_made_ends_the_daemon(self):
        w = self.w
        w.add_session("c3", 4242, "ghost")
        w.start_daemon()
        self.assertEqual(w.wait_exit(), 1)
        self.assertTrue(any(re.search(r"cannot become uid 4242 .*no user account.*rather than run on as root", l)
                            for l in w.log_lines()), w.log_lines())
        self.assertEqual(w.requests(), [])


class SettingChanges(WorldTest):
    def setUp(self):
        super().setUp()
        self.w.serve(["--profile", "3", "--light", "9"])

    def test_every_change_type(self):
        w = self.w
        for args, sent in [  # a full download's requests: DuringADownload
            (("select", "3"), ["40 14 03 00 00 00 00 00"]),
            (("lighting",), ["40 31 00 00 80 00 00 00", "40 31 00 00 81 00 00 00",
                             "40 31 00 00 82 00 00 00", "40 31 00 00 83 00 00 00"]),
            (("game", "on"), ["40 02 03 00 00 00 00 00"]),
            (("game", "off"), ["40 02 01 00 00 00 00 00"]),
            (("save",), [SAVE]),
            (("osd", "0xF2"), []),
        ]:
            self.assertEqual(w.requests_after(lambda: w.qz5ctl(*args, check=True)), sent, args)
        # What the values read as, sent the way another application might.
        T = "QZ5SettingChangeType"
        for info, sent in [
            ({T: dbus.Byte(2), "ProfileNumber": dbus.Int16(1)}, ["40 14 02 00 00 00 00 00"]),
            ({T: dbus.Int32(2)}, ["40 14 01 00 00 00 00 00"]),
            # the number plus one goes out unchanged, cut to 16 bits
            ({T: dbus.Int32(2), "ProfileNumber": dbus.Int32(-1)}, ["40 14 00 00 00 00 00 00"]),
            ({T: dbus.Int32(2), "ProfileNumber": dbus.Int64(2**40)}, ["40 14 00 00 00 00 00 00"]),
            ({T: dbus.Int32(4), "QZ5GameModeChange": dbus.Boolean(True)}, ["40 02 03 00 00 00 00 00"]),
            ({T: dbus.Int32(4)}, ["40 02 01 00 00 00 00 00"]),
            ({T: dbus.String(" 2x"), "ProfileNumber": dbus.Double(-0.9)}, ["40 14 01 00 00 00 00 00"]),
            ({T: dbus.UInt64(4), "QZ5GameModeChange": dbus.String("0")}, ["40 02 01 00 00 00 00 00"]),
            ({T: dbus.Boolean(True), "ProfileNumber": dbus.Int32(5), "isSave": True}, []),
            ({T: dbus.Int32(-1)}, []),
            ({T: dbus.Int32(7)}, []),
            ({}, []),
            ({T: dbus.Array([2], signature="i")}, []),
        ]:
            self.assertEqual(w.requests_after(lambda: w.notify("PellQZ5", "QZ5SettingChange", info)), sent, info)
        self.assertEqual(w.count_log("^full download: no profile 5, nothing sent$"), 1)
        # Each change, the markers included, is logged on arrival.
        self.assertEqual(w.count_log("^QZ5SettingChangeNotifProc$"), 2 * (6 + 13))


class NoDaemon(unittest.TestCase):
    def test_qz5ctl_says_why_nothing_answers(self):
        with World() as w:
            r = w.qz5ctl("status")
            self.assertEqual(r.returncode, 1)
            self.assertIn("cannot connect to the session bus", r.stderr)
            w.start_bus("session")
            for args in [("status",), ("apply", "1"), ("osd", "1")]:
                r = w.qz5ctl(*args)
                self.assertEqual((r.returncode, r.stderr), (1, "qz5ctl: qz5d is not running on this session bus\n"))


class Robustness(WorldTest):
    def test_random_notifications_leave_the_daemon_answering(self):
        w = self.w
        w.serve(["--profile", "2", "--light", "5"])
        rng = random.Random(int(os.environ.get("QZ5_SEED", "5")))
        names = ["PellQZ5", "PellQZ5Check", "", "pellqz5", "PellQZ5\u00e9"]
        objects = ["QZ5SettingChange", "GetDeviceStatue", "RecDeviceStatue", "QZ5ProfileChange", "x"]
        keys = ["QZ5SettingChangeType", "ProfileNumber", "isSave", "QZ5GameModeChange", "OsdType", "", "k\u00fc"]

        def value(depth=0):
            kind = rng.randrange(13 if depth < 3 else 10)
            big = rng.choice([0, 1, -1, 2**31 - 1, -2**31, rng.randrange(-2**31, 2**31)])
            return [lambda: dbus.Byte(rng.randrange(256)), lambda: dbus.Int16(rng.randrange(-2**15, 2**15)),
                    lambda: dbus.UInt16(rng.randrange(2**16)), lambda: dbus.Int32(big),
                    lambda: dbus.UInt32(rng.randrange(2**32)), lambda: dbus.Int64(rng.randrange(-2**63, 2**63)),
                    lambda: dbus.UInt64(rng.randrange(2**64)), lambda: dbus.Double(rng.uniform(-1e12, 1e12)),
                    lambda: dbus.Boolean(rng.random() < 0.5),
                    lambda: dbus.String(rng.choice(["", "7", " -3", "1e9", "x", "99999999999999"])),
                    lambda: dbus.Array([value(depth + 1)], signature="v"),
                    lambda: dbus.Dictionary({"a": value(depth + 1)}, signature="sv"),
                    lambda: dbus.Struct((value(depth + 1), "s"), variant_level=1 + depth)][kind]()

        def pausing(v):
            # Changes that make the keyboard pause (types 1-5) would take the
            # run beyond any deadline: the type's reading is kept outside them.
            try:
                return 1 <= (int(float(v)) if isinstance(v, dbus.String) else int(v)) <= 5
            except (TypeError, ValueError, OverflowError):
                return False

        bus = w.session_bus()
        for i in range(10000):
            roll = rng.random()
            if roll < 0.05:
                args, signature = rng.choice([
                    ((1, 2), "ii"), (("PellQZ5", "QZ5SettingChange"), "ss"),
                    (("PellQZ5", "QZ5SettingChange", {"OsdType": "1"}), "ssa{ss}"),
                    (("PellQZ5Check", "GetDeviceStatue", 5), "ssi")])
                w.notify(None, None, args, signature=signature, bus=bus)
                continue
            info = {rng.choice(keys): value() for _ in range(rng.randrange(5))}
            if pausing(info.get("QZ5SettingChangeType", 0)):
                info["QZ5SettingChangeType"] = dbus.Int32(6)
            name, obj = rng.choice(names), rng.choice(objects)
            if obj == "GetDeviceStatue" and rng.random() < 0.9:
                obj = "QZ5SettingChange"
            w.notify(name, obj, info, bus=bus)
        bus.close()
        r = w.qz5ctl("status", "--timeout", "120")
        # A random status request still queued may be answered in the same
        # breath as ours: qz5ctl prints one reply all the same.
        self.assertEqual((r.returncode, r.stdout), (0, "keyboard: present\nprofile: 2\nlight level: 5\n"), r.stderr)
        log = "\n".join(w.log_lines())
        self.assertNotIn("runtime error", log)
        self.assertNotIn("Sanitizer", log)
        self.assertIn("ignored a notification of type (ssa{ss}) (expected (ssa{sv}))", log)
        self.assertIsNone(w.daemon.poll())


if __name__ == "__main__":
    unittest.main()
