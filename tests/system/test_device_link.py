"""The keyboard coming and going, its reports and what they make qz5d do:
the relayed notifications, the on-screen display, launches."""

import glob
import os
import pty
import re
import signal
import subprocess
import unittest

from test_daemon import WorldTest
from world import QZ5CTL, QZ5D, XServer, wait_for

STATUS = "RecDeviceStatue IsHaved={} LightLev=0 ProfileNumber={}"


def settings(paths):
    """A settings file with launch paths in profile 2 (key number -> path);
    the current profile is 1 until the keyboard says otherwise."""
    keys = ""
    for number, path in paths.items():
        name = f"TKEYINFO_{number}" if number <= 12 else f"MAPPINGKEYINFO_{number - 12}"
        keys += (f"<key>{name}</key><dict><key>FUNCID</key><integer>3</integer>"
                 f"<key>LAUNCHPATH</key><string>{path}</string></dict>")
    return (f'<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>'
            "<key>PROFILE_ID</key><integer>0</integer>"
            f"<key>PROFILE_2</key><dict>{keys}</dict></dict></plist>")


class Attach(WorldTest):
    def hidraw_fds(self, pid):
        """How many of the daemon's descriptors are open emulated hidraw nodes."""
        def target(fd):
            try:
                return os.readlink(fd)
            except OSError:  # closed while we looked
                return ""
        return sum(1 for fd in glob.glob(f"/proc/{pid}/fd/*") if target(fd).startswith("/dev/pts/"))

    def test_attached_at_start_unplugged_replugged_and_plugged_late(self):
        w = self.w
        w.add_session()
        mon = w.monitor()
        w.start_daemon()
        w.ready()
        # Attached at start: its status went out before the reset request.
        self.assertEqual(w.requests(), ["c0 15 00 00 00 00 01 00", "c0 04 00 00 00 00 08 00",
                                        "40 01 00 00 00 00 00 00"])
        self.assertEqual(w.next_line(mon), STATUS.format(1, 1))
        pid = w.daemon_pid()
        self.assertEqual(self.hidraw_fds(pid), 2)  # the first and the last node

        w.emulator("unplug")
        self.assertEqual(w.next_line(mon), STATUS.format(0, 0))  # told without asking
        w.wait_log("^error:1, DeviceRemovedNotifProc$")
        wait_for(lambda: self.hidraw_fds(pid) == 0, what="the dead nodes closed")
        self.assertEqual(w.qz5ctl("status").stdout, "keyboard: absent\nprofile: 0\nlight level: 0\n")
        self.assertEqual(w.next_line(mon), STATUS.format(0, 0))
        self.assertIn("tempPro  0", w.log_lines())  # the status just posted, logged

        for i in range(3):  # each arrival replaces the last one's watches
            if i:
                w.emulator("unplug")
                self.assertEqual(w.next_line(mon), STATUS.format(0, 0))
            w.emulator("plug")
            self.assertEqual(w.next_line(mon), STATUS.format(1, 1))
        wait_for(lambda: self.hidraw_fds(pid) == 2, what="two watched nodes")
        before = w.count_log("^DeviceNotification data")
        w.emulator("report 8 00 00 f3 00 00 00 00 00")
        w.emulator("report2 8 00 00 f1 00 00 00 00 00")
        self.assertEqual(w.next_line(mon), "QZ5ProfileChange ProfileNumber=2")
        self.assertEqual(w.next_line(mon), "QZ5ProfileChange ProfileNumber=0")
        w.qz5ctl("status", check=True)  # one more line marks the end of the deliveries
        self.assertTrue(w.next_line(mon).startswith("RecDeviceStatue"))
        self.assertEqual(w.count_log("^DeviceNotification data"), before + 2)
        self.assertEqual(self.hidraw_fds(pid), 2)

    def test_arrival_without_a_console_user_marks_nothing(self):
        w = self.w
        path = w.add_session()
        w.start_daemon(["--unplugged"])
        w.ready_unplugged()
        w.set_session(path, Active=False)  # switched to another console
        w.emulator("plug")
        w.wait_log("^error:1, DeviceAddedNotifProc$")
        w.emulator("report 8 00 00 f2 00 00 00 00 00")
        self.assertEqual(w.qz5ctl("status").stdout, "keyboard: absent\nprofile: 1\nlight level: 0\n")
        self.assertEqual(w.count_log("DeviceNotification"), 0)
        w.set_session(path, Active=True)
        w.emulator("unplug")
        w.emulator("plug")
        w.wait_log("^error:1, DeviceAddedNotifProc$", count=2)
        self.assertEqual(w.qz5ctl("status").stdout, "keyboard: present\nprofile: 1\nlight level: 0\n")


class Dispatch(WorldTest):
    def test_every_kind_of_key_and_the_launches(self):
        w = self.w
        marker = w.path("launched")
        script = w.write("recorder.sh", f'#!/bin/sh\necho "script $(pwd)" >> {marker}\n', 0o755)
        desktop = w.write("notes.desktop", "[Desktop Entry]\nType=Application\nName=Notes\n"
                          f"Exec=sh -c 'echo desktop >> {marker}'\n")
        # A document opens with the default application for its type.
        w.write("data/applications/qz5-viewer.desktop", "[Desktop Entry]\nType=Application\nName=Viewer\n"
                f"MimeType=text/plain;\nExec=sh -c 'echo \"document $0\" >> {marker}' %f\n")
        w.write("config/mimeapps.list", "[Default Applications]\ntext/plain=qz5-viewer.desktop\n")
        document = w.write("note.txt", "")
        w.write("Setting.xml", settings({1: script, 12: desktop, 13: document, 20: w.path("missing"), 2: ""}))
        w.serve(env={"XDG_DATA_HOME": w.path("data"), "XDG_CONFIG_HOME": w.path("config"),
                     "XDG_DATA_DIRS": "/usr/share"})
        mon = w.monitor()
        requests = w.requests()
        rows = [  # report, the relayed notification or None, the OSD code or None
            *[(f"8 00 00 f{n + 1}", f"QZ5ProfileChange ProfileNumber={n}", f"f{n + 1}") for n in range(3)],
            ("8 00 00 f4", None, "f4"),
            ("8 00 00 f7", None, "f7"),
            ("8 00 00 f8", "QZ5GameModeChange QZ5GameModeNumber=1", "f8"),
            ("8 00 00 f9", "QZ5GameModeChange QZ5GameModeNumber=0", "f9"),
            *[(f"8 00 00 {c:x}", f"QZ5LightModeChange QZ5LightModeNumber={c - 0xfa}", f"{c:x}")
              for c in range(0xfa, 0xff)],
            ("8 00 00 ff", None, None),
            *[(f"4 {code} 00 00", None, code) for code in ("cd", "b5", "b6", "b7")],
            ("4 f1 00 f1", None, None),
            ("8 00 00 00", None, None),  # these three carry nothing and are dropped unlogged
            ("5 00 00 f2", None, None),
            ("4 00 01 00", None, None),
            ("8 00 00 f2", "QZ5ProfileChange ProfileNumber=1", "f2"),  # back to profile 2's launch paths
        ]
        for report, posted, osd in rows:
            shown = w.count_log("^on-screen display: code ")
            w.emulator(f"report {report} 00 00 00 00 00")
            if posted:
                self.assertEqual(w.next_line(mon), posted, report)
            w.qz5ctl("status", check=True)  # every earlier report has been handled when this comes back
            self.assertTrue(w.next_line(mon).startswith("RecDeviceStatue"), report)
            requests += ["c0 15 00 00 00 00 01 00", "c0 04 00 00 00 00 08 00"]
            codes = [l.split()[-1] for l in w.log_lines() if l.startswith("on-screen display: code ")][shown:]
            self.assertEqual(codes, [osd] if osd else [], report)
        self.assertEqual(w.requests(), requests, "a key on the keyboard never makes a request")
        self.assertEqual(w.count_log("^DeviceNotification data"), len(rows) - 3)
        for key in (1, 12, 13, 20, 2, 0, 21):
            w.emulator(f"report 4 fd {key:02x} 00 00 00 00 00 00")
        w.qz5ctl("status", check=True)
        self.assertEqual(w.count_log("^open App$"), 7)
        self.assertEqual(sorted(w.lines_of(marker, 3)), sorted([f"script {w.dir}", "desktop", f"document {document}"]))


class DuringADownload(WorldTest):
    """While the keyboard takes a download, what needs no keyboard is served
    at once; what does waits its turn; the sender learns how it went."""
    APPLIED = ("QZ5SettingApplied FailedCount={} IsHaved={} Milliseconds=N MissedCount={} ProfileNumber={} "
               "QZ5SettingChangeType={} RequestCount={}")

    def applied(self, mon):
        """The next monitor line, a notice's time replaced by N and its ChangeId left out."""
        line = re.sub(r"Milliseconds=\d+", "Milliseconds=N", self.w.next_line(mon, timeout=30))
        return re.sub(r" ChangeId=\d+", "", line)

    def test_keys_relayed_and_launched_at_once_and_a_status_request_queued_behind(self):
        w = self.w
        marker = w.path("launched")
        script = w.write("recorder.sh", f"#!/bin/sh\necho launched >> {marker}\n", 0o755)
        w.write("Setting.xml", settings({2: script}))
        w.serve()
        expected = w.qz5ctl("requests", w.settings, "2", "--save", check=True).stdout.splitlines()
        mon = w.monitor()
        start = len(w.requests())
        self.assertEqual(w.qz5ctl("apply", "2", "--save", "--no-wait").returncode, 0)
        w.wait_requests(start + 1)  # under way: 6 s of it to go
        w.emulator("report 8 00 00 f2 00 00 00 00 00")  # profile 2, where T2 launches the script
        self.assertEqual(w.next_line(mon), "QZ5ProfileChange ProfileNumber=1")
        w.emulator("report 4 fd 02 00 00 00 00 00 00")
        w.lines_of(marker)  # launched
        r = w.qz5ctl("status")  # answered after the download, with the keyboard's own reads
        self.assertEqual((r.returncode, r.stdout), (0, "keyboard: present\nprofile: 1\nlight level: 0\n"))
        self.assertEqual(self.applied(mon), self.APPLIED.format(0, 1, 0, 1, 1, 11))
        self.assertEqual(w.next_line(mon), "RecDeviceStatue IsHaved=1 LightLev=0 ProfileNumber=1")
        self.assertEqual(w.requests()[start:], expected + ["c0 15 00 00 00 00 01 00", "c0 04 00 00 00 00 08 00"])
        log = w.log_lines()
        self.assertLess(log.index("open App"), log.index(next(l for l in log if l.startswith("change 1 done"))))

    def test_unplugged_midway_replugged_and_a_failing_request(self):
        w = self.w
        w.serve()
        expected = w.qz5ctl("requests", w.settings, "2", "--save", check=True).stdout.splitlines()
        start = len(w.requests())
        apply = subprocess.Popen([QZ5CTL, "apply", "2", "--save"], env=w.env, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True)
        self.addCleanup(apply.kill)
        w.wait_requests(start + 3)
        w.emulator("unplug")
        _, err = apply.communicate(timeout=30)  # the rest of the download finds no keyboard
        self.assertEqual(apply.returncode, 3, err)
        self.assertRegex(err, r"^qz5ctl: the keyboard went away: \d+ of 11 requests found no keyboard\n$")
        self.assertLess(len(w.requests()) - start, len(expected))
        for args in (("select", "2"), ("lighting",)):
            r = w.qz5ctl(*args)
            self.assertEqual((r.returncode, r.stderr),
                             (3, "qz5ctl: no keyboard attached: the change did not reach one\n"), args)
        self.assertEqual(w.qz5ctl("osd", "0xf2").returncode, 0)  # needs no keyboard

        mon = w.monitor()
        w.emulator("plug")
        self.assertEqual(w.next_line(mon), STATUS.format(1, 1))
        start = len(w.requests())
        self.assertEqual(w.qz5ctl("apply", "2", "--save").returncode, 0)
        self.assertEqual(w.requests()[start:], expected)
        self.assertEqual(self.applied(mon), self.APPLIED.format(0, 1, 0, 1, 1, 11))

        w.emulator("stall 03")  # the keyboard refuses to save
        r = w.qz5ctl("apply", "2", "--save")
        self.assertEqual((r.returncode, r.stderr),
                         (4, "qz5ctl: 1 of 11 requests failed at the keyboard (qz5d's log says how)\n"))
        self.assertEqual(self.applied(mon), self.APPLIED.format(1, 1, 0, 1, 1, 11))
        # On a terminal: one progress line.
        main, sub = pty.openpty()
        r = subprocess.run([QZ5CTL, "game", "on"], env=w.env, stdout=sub, stderr=subprocess.PIPE, text=True,
                           timeout=30)
        os.close(sub)
        with os.fdopen(main, "rb") as f:
            line = f.read1(200).decode()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertRegex(line, r"^turning game mode on \.\.\. 1 request, \d+\.\d s\r\n$")

        # qz5d told to end midway finishes the download first; told twice, it
        # drops the rest, and a qz5ctl waiting is told.
        for signals, expected_err in ((1, ""), (2, "qz5ctl: qz5d ended before it said how the change went\n")):
            if signals == 2:
                w.start_daemon()
                w.ready()
            start = len(w.requests())
            apply = subprocess.Popen([QZ5CTL, "apply", "1"], env=w.env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE, text=True)
            self.addCleanup(apply.kill)
            w.wait_requests(start + 1)
            w.daemon.send_signal(signal.SIGTERM)
            w.wait_log("^qz5d ends once the keyboard has the work queued for it")  # each run its own log
            if signals == 2:
                self.assertEqual(w.stop_daemon(), 0)
            self.assertEqual(w.wait_exit(30), 0)
            _, err = apply.communicate(timeout=30)
            self.assertEqual((apply.returncode, err), (1 if signals == 2 else 0, expected_err))
        self.assertEqual(w.count_log("^qz5d ends with work for the keyboard still queued; it is dropped$"), 1)


class SessionLaunch(WorldTest):
    """Launch keys and the OSD helper as units of the user's service manager,
    in the environment it holds (the daemon's own has no display), and the
    direct start when the manager refuses."""

    def start(self, refuse=False, display=""):
        w = self.w
        self.marker = w.path("launched")
        self.script = w.write("bin/recorder.sh", '#!/bin/sh\necho "script $(pwd) $WAYLAND_DISPLAY $QZ5_FROM" '
                              f'>> {self.marker}\n', 0o755)
        desktop = w.write("notes.desktop", "[Desktop Entry]\nType=Application\nName=Notes\n"
                          f"Exec=sh -c 'echo \"desktop $WAYLAND_DISPLAY\" >> {self.marker}'\n")
        w.write("Setting.xml", settings({1: self.script, 12: desktop}))
        self.session = [f"DISPLAY={display}", "WAYLAND_DISPLAY=wayland-7", "QZ5_FROM=manager",
                        f"PATH={os.environ['PATH']}"]
        w.add_session()
        w.start_user_manager(self.session, refuse=refuse)
        w.start_daemon()
        w.ready()
        w.emulator("report 8 00 00 f2 00 00 00 00 00")  # profile 2, and its OSD code

    def launched(self, n):
        return self.w.lines_of(self.marker, n)

    def key(self, number):
        self.w.emulator(f"report 4 fd {number:02x} 00 00 00 00 00 00")

    def test_units_of_the_users_manager_in_its_environment(self):
        w = self.w
        x = XServer()
        self.addCleanup(x.close)
        self.start(display=x.display)
        # The OSD helper runs in a unit, reads its codes through the handed
        # pipe and shows on the display only the manager knew.
        wait_for(x.visible_osd, what="the OSD window")
        self.key(1)
        self.key(12)
        bin_dir = os.path.dirname(self.script)
        self.assertEqual(sorted(self.launched(2)), sorted([f"script {bin_dir} wayland-7 manager", "desktop wayland-7"]))
        units = {re.sub(r"@[0-9a-f]{16}\.service$", "@R.service", u["name"]): u["properties"] for u in w.units()}
        self.assertEqual(sorted(units), ["app-qz5d-notes@R.service", "app-qz5d-qz5-osd@R.service",
                                         "app-qz5d-recorder.sh@R.service"])
        script = units["app-qz5d-recorder.sh@R.service"]
        self.assertEqual(script["ExecStart"], [[self.script, [self.script], False]])
        self.assertEqual(script["WorkingDirectory"], bin_dir)
        self.assertEqual((script["Slice"], script["ExitType"]), ("app.slice", "cgroup"))
        self.assertIn("WAYLAND_DISPLAY=wayland-7", script["Environment"])
        self.assertEqual(units["app-qz5d-notes@R.service"]["ExecStart"][0][1][:2], ["sh", "-c"])
        osd = units["app-qz5d-qz5-osd@R.service"]
        self.assertEqual((osd["StandardInputFileDescriptor"], osd["StandardErrorFileDescriptor"]), ("fd", "fd"))
        # The display is logged once; a new one is found by the next launch.
        summary = f"^session display: WAYLAND_DISPLAY=wayland-7 DISPLAY={x.display} .*from the user's service manager$"
        self.assertEqual(w.count_log(summary), 1)
        w.set_manager_environment([l.replace("wayland-7", "wayland-8") for l in self.session])
        self.key(1)
        self.assertEqual(self.launched(3)[-1], f"script {bin_dir} wayland-8 manager")
        w.wait_log(f"^session display: WAYLAND_DISPLAY=wayland-8 DISPLAY={x.display} ")

    def test_a_display_that_comes_after_the_daemon_is_found_by_the_next_code(self):
        w = self.w
        self.start()  # the manager knows no X display yet: the helper finds nothing to show on
        w.wait_log("^on-screen display: (qz5-osd closed its input|the helper is gone)")
        x = XServer()
        self.addCleanup(x.close)
        w.set_manager_environment(self.session[1:] + [f"DISPLAY={x.display}"])
        w.qz5ctl("osd", "0xF3", check=True)
        wait_for(x.visible_osd, what="the OSD on the display that came later")
        w.wait_log(f"^session display: WAYLAND_DISPLAY=wayland-7 DISPLAY={x.display} ")

    def test_a_refusing_manager_leaves_the_direct_start_in_its_environment(self):
        w = self.w
        self.start(refuse=True)
        self.key(1)
        self.assertEqual(self.launched(1), [f"script {os.path.dirname(self.script)} wayland-7 manager"])
        w.wait_log(r"^the user's service manager did not start recorder.sh \(org.freedesktop.DBus.Error."
                   r"PropertyReadOnly: .*\); starting it directly$")
        w.wait_log(r"^started recorder.sh as process \d+$")
        self.assertEqual(w.units(), [])

    def test_a_slow_manager_holds_the_launch_not_the_daemon(self):
        w = self.w
        self.start()
        w.manager_holds(True)
        self.key(1)
        wait_for(lambda: w.manager_holds() > 0, what="the launch's question to the manager")
        w.qz5ctl("status", check=True)  # answered while the manager has not
        self.assertFalse(os.path.exists(self.marker))
        w.manager_holds(False)
        self.assertEqual(self.launched(1), [f"script {os.path.dirname(self.script)} wayland-7 manager"])


class OnScreenDisplay(WorldTest):
    """The OSD through the daemon on a private X server, and the daemon
    outliving the display."""

    def test_shows_the_picture_and_survives_the_display(self):
        w = self.w
        x = XServer()
        self.addCleanup(x.close)
        w.serve(env={"DISPLAY": x.display})
        screen = lambda: x.screenshot(400, 570, 200, 130)
        empty = screen()
        w.qz5ctl("osd", "0xF2", check=True)
        wait_for(x.visible_osd, what="the OSD window")
        shown = wait_for(lambda: (lambda s: s if s != empty else None)(screen()), what="a picture")
        wait_for(lambda: not x.visible_osd(), timeout=10, what="the OSD to close")
        # The same picture as qz5-osd shows for 0xf2 on its own.
        osd = subprocess.Popen([os.path.join(os.path.dirname(QZ5D), "../osd/qz5-osd")], stdin=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, env=x.env)
        osd.stdin.write(b"242\n")
        osd.stdin.flush()
        wait_for(lambda: screen() == shown, what="the standalone OSD to show the same picture")
        osd.stdin.close()
        osd.wait(10)

        x.proc.terminate()
        x.proc.wait(10)
        w.wait_log(r"^on-screen display: qz5-osd (exited with status \d+|ended by signal \d+)")
        self.assertEqual(w.qz5ctl("status").returncode, 0)
        self.addCleanup(XServer(x.display).close)
        # After a back-off of a few seconds a code starts the helper again.
        wait_for(lambda: w.qz5ctl("osd", "0xF3", check=True) and x.visible_osd(), timeout=20,
                 interval=0.5, what="the OSD on the new display")
        self.assertIsNone(w.daemon.poll())


if __name__ == "__main__":
    unittest.main()
