"""A private world for qz5d, for its system tests, scripts/world and the
demo: a session bus, a system bus running a logind mock, the emulated
keyboard, qz5d under it, and qz5ctl. Every wait has a deadline; nothing
sleeps a fixed time to let the daemon catch up."""

import glob
import json
import os
import queue
import re
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

import dbus
import dbus.lowlevel

from vocabulary import V, request_line

BUILD = os.environ.get("QZ5_BUILD", os.path.join(os.path.dirname(__file__), "../../build/plain"))
QZ5D = os.path.join(BUILD, "daemon/qz5d")
QZ5CTL = os.path.join(BUILD, "tools/qz5ctl")
EMULATOR = os.path.join(BUILD, "tools/emulator/qz5-emulator")
LOGIN1 = "org.freedesktop.login1"
NOTIFICATIONS = ("/org/qz5d/Notifications1", "org.qz5d.Notifications1", "Notification")
# The selection of profile 0x7ffe + 1: nothing else sends it.
MARK = request_line(V.kRequestOut, V.kReqSelectProfile, 0x7FFF)
RESET = request_line(V.kRequestOut, V.kReqReset)

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>{kind}</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
"""


def wait_for(predicate, timeout=10.0, what="condition", interval=0.02):
    """Polls predicate every interval until it returns something true; fails
    after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)  # a poll inside the deadline


class World:
    def __init__(self, keep=False, base=None):
        """base: the folder to make the world in (default $QZ5_WORLD_DIR, else
        the temporary folder); every user must be able to traverse it."""
        self.keep = keep
        self.dir = tempfile.mkdtemp(prefix="qz5-world-", dir=base or os.environ.get("QZ5_WORLD_DIR"))
        os.chmod(self.dir, 0o755)  # a daemon that switched users still reaches the sockets
        self.procs = []
        self.files = []
        self.daemon = None
        self.env = dict(os.environ)
        for k in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "DBUS_SYSTEM_BUS_ADDRESS", "QZ5_SETTINGS_FILE"):
            self.env.pop(k, None)
        self.env["NO_AT_BRIDGE"] = "1"
        self.settings = self.path("Setting.xml")
        self.env["QZ5_SETTINGS_FILE"] = self.settings
        self.log = self.path("requests.log")
        self.fifo = self.path("control.fifo")
        self.err = self.path("daemon.err")
        self.out = self.path("daemon.out")
        self._sysbus = None

    def path(self, name):
        return os.path.join(self.dir, name)

    def lines_of(self, path, count=1, timeout=10.0):
        """The lines of path once it holds at least count of them (a launched
        program's marker file, say)."""
        def lines():
            if not os.path.exists(path):
                return None
            with open(path) as f:
                found = f.read().splitlines()
            return found if len(found) >= count else None
        return wait_for(lines, timeout, what=f"{count} lines in {path}")

    def write(self, name, text, mode=0o644):
        """A file in the world's folder (folders made as needed); its path."""
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, mode)
        return path

    # --- buses and logind -------------------------------------------------

    def start_bus(self, kind, user=None):
        socket = self.path(f"{kind}.sock")
        conf = self.path(f"{kind}.conf")
        with open(conf, "w") as f:
            f.write(BUS_CONFIG.format(kind=kind, socket=socket))
        cmd = ["dbus-daemon", "--nofork", "--nopidfile", "--print-address=1", f"--config-file={conf}"]
        if user is not None:
            cmd = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] + cmd
        bus = self.spawn(cmd, stdout=subprocess.PIPE, stderr=self.file(f"{kind}-bus.err"), text=True)
        # The address is printed once the bus accepts connections.
        if not select.select([bus.stdout], [], [], 10)[0] or not bus.stdout.readline():
            raise AssertionError(f"the {kind} bus did not start")
        address = f"unix:path={socket}"
        self.env["DBUS_SESSION_BUS_ADDRESS" if kind == "session" else "DBUS_SYSTEM_BUS_ADDRESS"] = address
        return address

    def start_logind(self):
        address = self.env.get("DBUS_SYSTEM_BUS_ADDRESS") or self.start_bus("system")
        self.spawn(["/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind"],
                   stdout=subprocess.DEVNULL, stderr=self.file("logind.err"))
        self._sysbus = dbus.bus.BusConnection(address)
        wait_for(lambda: self._sysbus.name_has_owner(LOGIN1), what="the logind mock")
        return self

    def logind(self):
        return dbus.Interface(self._sysbus.get_object(LOGIN1, "/org/freedesktop/login1"),
                              "org.freedesktop.DBus.Mock")

    def add_session(self, sid="c1", uid=0, name="root", active=True, **props):
        """A session on seat0 (made seat0's ActiveSession); props override
        Active/State/Remote/Class/Display."""
        path = self.logind().AddSession(sid, "seat0", dbus.UInt32(uid), name, active)
        props.setdefault("State", "active" if active else "online")
        self.set_session(path, Active=active, **props)
        return path

    def set_session(self, path, **props):
        obj = dbus.Interface(self._sysbus.get_object(LOGIN1, path), "org.freedesktop.DBus.Properties")
        for k, v in props.items():
            obj.Set("org.freedesktop.login1.Session", k, v)

    def logout(self):
        seat = dbus.Interface(self._sysbus.get_object(LOGIN1, "/org/freedesktop/login1/seat/seat0"),
                              "org.freedesktop.DBus.Properties")
        seat.Set("org.freedesktop.login1.Seat", "ActiveSession", ("", dbus.ObjectPath("/")))

    def add_seat(self):
        self.logind().AddSeat("seat0")

    def start_user_manager(self, environment=(), refuse=False):
        """The user's service manager on the session bus (a dbusmock template
        that runs what it is asked to); returns the file its units are
        logged to, one JSON line each."""
        log = self.path("units.log")
        template = os.path.join(os.path.dirname(os.path.abspath(__file__)), "user_manager_template.py")
        params = json.dumps({"log": log, "environment": list(environment), "refuse": refuse})
        self.spawn(["/usr/bin/python3", "-m", "dbusmock", "--template", template, "-p", params],
                   stdout=subprocess.DEVNULL, stderr=self.file("user-manager.err"))
        bus = self.session_bus()
        wait_for(lambda: bus.name_has_owner("org.freedesktop.systemd1"), what="the user's service manager")
        bus.close()
        return log

    def set_manager_environment(self, environment):
        bus = self.session_bus()
        manager = dbus.Interface(bus.get_object("org.freedesktop.systemd1", "/org/freedesktop/systemd1"),
                                 "org.freedesktop.DBus.Properties")
        manager.Set("org.freedesktop.systemd1.Manager", "Environment", dbus.Array(environment, signature="s"))
        bus.close()

    def manager_holds(self, hold=None):
        """How many of the user's service manager's replies to a Get of its
        environment are held; hold True holds them from now on, False
        answers them (and the later ones)."""
        bus = self.session_bus()
        mock = dbus.Interface(bus.get_object("org.freedesktop.systemd1", "/org/freedesktop/systemd1"),
                              "org.freedesktop.DBus.Mock")
        if hold is not None:
            mock.Hold(hold)
        held = int(mock.Held())
        bus.close()
        return held

    def units(self):
        """The units the user's service manager started, oldest first."""
        try:
            with open(self.path("units.log")) as f:
                return [json.loads(l) for l in f]
        except FileNotFoundError:
            return []

    # --- an X display ----------------------------------------------------------

    def start_display(self, screen="1000x800x24", desktop="#2060a0"):
        """A private X server with a plain desktop, made the world's DISPLAY;
        returns the display."""
        x = XServer(screen=screen, log=self.file("xvfb.err"))
        self.procs.append(x.proc)
        self.env["DISPLAY"] = x.display
        subprocess.run(["xsetroot", "-solid", desktop], env=self.env, check=True)
        return x.display

    # --- the daemon ----------------------------------------------------------

    def start_daemon(self, emulator_args=(), command=None, env=None):
        """qz5d (or command) under the emulated keyboard; its standard error
        (the log lines) and output go to files."""
        if not os.path.exists(self.settings):
            self.qz5ctl("settings", "init", self.settings, check=True)
        e = dict(self.env, TMPDIR=self.dir, **(env or {}))
        self.daemon = self.spawn([EMULATOR, "--log", self.log, "--control", self.fifo, *emulator_args,
                                  "--", *(command or [QZ5D])],
                                 env=e, stdout=self.file(self.out), stderr=self.file(self.err))
        return self.daemon

    def serve(self, emulator_args=(), **kw):
        """root logged in on the console and qz5d serving them."""
        self.add_session()
        self.start_daemon(emulator_args, **kw)
        return self.ready()

    def log_lines(self):
        with open(self.err, errors="replace") as f:
            return f.read().splitlines()

    def wait_log(self, pattern, timeout=10.0, count=1):
        """Waits until count lines of the daemon's log match pattern (a regex)."""
        rx = re.compile(pattern)

        def seen():
            lines = [l for l in self.log_lines() if rx.search(l)]
            if self.daemon.poll() is not None and len(lines) < count:
                raise AssertionError(f"the daemon ended ({self.daemon.returncode}) before "
                                     f"{pattern!r}; its log:\n" + "\n".join(self.log_lines()))
            return lines if len(lines) >= count else None
        return wait_for(seen, timeout, what=repr(pattern))

    def count_log(self, pattern):
        rx = re.compile(pattern)
        return sum(1 for l in self.log_lines() if rx.search(l))

    def ready(self, timeout=10.0):
        """Waits until the daemon serves the bus (its reset request is out)."""
        wait_for(lambda: self.requests()[-1:] == [RESET], timeout,
                 what="the daemon's reset request")
        return self

    def ready_unplugged(self, timeout=10.0):
        """Waits until the daemon answers a status request (no keyboard: its
        reset reaches no log)."""
        wait_for(lambda: self.qz5ctl("status", "--timeout", "1").returncode == 0, timeout, what="a status reply")
        return self

    def requests(self):
        try:
            with open(self.log) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_requests(self, n, timeout=20.0):
        return wait_for(lambda: self.requests() if len(self.requests()) >= n else None, timeout,
                        what=f"{n} requests")

    def emulator(self, command):
        """One control command; waits for the emulator's acknowledgement."""
        before = self.count_log(re.escape(f"qz5-emulator: ok: {command}"))
        with open(self.fifo, "w") as f:
            f.write(command + "\n")
        self.wait_log(re.escape(f"qz5-emulator: ok: {command}") + "$", count=before + 1)

    def stop_daemon(self, timeout=10.0):
        self.daemon.send_signal(signal.SIGTERM)
        return self.daemon.wait(timeout)

    def wait_exit(self, timeout=10.0):
        return self.daemon.wait(timeout)

    # --- qz5ctl ----------------------------------------------------------------

    def qz5ctl(self, *args, check=False, timeout=30, env=None):
        return subprocess.run([QZ5CTL, *args], env=dict(self.env, **(env or {})), capture_output=True,
                              text=True, timeout=timeout, check=check)

    def monitor(self, count=None):
        """qz5ctl monitor, started and listening; returns the process."""
        args = [QZ5CTL, "monitor"] + (["--count", str(count)] if count else [])
        p = subprocess.Popen(args, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.procs.append(p)
        line = p.stderr.readline()
        if line.strip() != "listening":
            raise AssertionError(f"monitor did not start: {line!r}")
        # A thread hands its lines over: select() on the pipe would not see
        # lines already read into the stream's buffer.
        p.lines = queue.Queue()
        threading.Thread(target=lambda: [p.lines.put(l.strip()) for l in p.stdout], daemon=True).start()
        return p

    def next_line(self, monitor, timeout=10.0):
        """The next line a monitor prints (stripped); fails after timeout."""
        try:
            return monitor.lines.get(timeout=timeout)
        except queue.Empty:
            log = "\n".join(self.log_lines()[-30:]) if self.daemon else ""
            raise AssertionError(f"no line from the monitor within {timeout} s; the daemon's log ends:\n{log}")

    def session_bus(self):
        return dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])

    def notify(self, name, obj, info, signature="ssa{sv}", bus=None):
        """Posts a Notification as the settings application does: name, obj
        and the dictionary info; with another signature, info is the body."""
        conn = bus or self.session_bus()
        msg = dbus.lowlevel.SignalMessage(*NOTIFICATIONS)
        if signature == "ssa{sv}":
            msg.append(name, obj, dbus.Dictionary(info, signature="sv"), signature=signature)
        else:
            msg.append(*info, signature=signature)
        conn.send_message(msg)
        conn.flush()
        if bus is None:
            conn.close()

    def requests_after(self, act, changes=1):
        """The requests act makes the daemon send: a profile selection that
        nothing else sends is posted behind it and marks the end. The marker
        goes out once the daemon logged the act's changes: the bus keeps the
        order of one connection's messages only."""
        start = len(self.requests())
        logged = self.count_log("^QZ5SettingChangeNotifProc$")
        act()
        if changes:
            self.wait_log("^QZ5SettingChangeNotifProc$", count=logged + changes)
        self.notify(V.kNameSettings, V.kSettingChange,
                    {V.kKeyChangeType: V.ChangeType["SelectProfile"], V.kKeyProfileNumber: 0x7FFE})
        def marked():  # a marker after start: an earlier act's marker may still be the last line
            lines = self.requests()[start:]
            return lines if lines[-1:] == [MARK] else None
        return wait_for(marked, 30, "the marking request")[:-1]

    def daemon_pid(self):
        """qz5d's pid: the emulator's child."""
        def child():
            for task in glob.glob(f"/proc/{self.daemon.pid}/task/*/children"):
                with open(task) as f:
                    pids = f.read().split()
                if pids:
                    return pids[0]
        return wait_for(child, what="the daemon's process")

    # --- housekeeping ----------------------------------------------------------

    def file(self, name):
        """A file in the world's folder, open for writing, closed with it."""
        f = open(self.path(name), "w")
        self.files.append(f)
        return f

    def spawn(self, cmd, **kw):
        kw.setdefault("env", self.env)
        p = subprocess.Popen(cmd, **kw)
        self.procs.append(p)
        return p

    def close(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        for p in self.procs:
            for stream in (p.stdout, p.stderr):
                if stream:
                    stream.close()
        for f in self.files:
            f.close()
        if not self.keep:
            shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def _display_in_use(number):
    """Whether an X server holds display number: a lock file naming a live
    process, or a socket that answers. What a killed server left behind
    does not count (Xvfb clears both when it starts)."""
    try:
        with open(f"/tmp/.X{number}-lock") as f:
            os.kill(int(f.read().strip()), 0)
        return True
    except (FileNotFoundError, ValueError, ProcessLookupError):
        pass
    except PermissionError:  # a live process of another user
        return True
    path = f"/tmp/.X11-unix/X{number}"
    if not os.path.exists(path):
        return False
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        try:
            s.connect(path)
            return True
        except OSError:
            return False


class XServer:
    """A private X server (Xvfb, 1000 x 800) for the on-screen display: on
    display, or on the first free one."""

    def __init__(self, display=None, screen="1000x800x24", log=subprocess.DEVNULL):
        """On display (waits for its socket), else on a free display number
        chosen here: Xvfb's own search (-displayfd alone) gives up when it
        meets a display another server holds."""
        args = ["Xvfb", "-noreset", "-nolisten", "tcp", "-screen", "0", screen]
        if display:
            self.proc = subprocess.Popen(args + [display], stdout=subprocess.DEVNULL, stderr=log)
            wait_for(lambda: os.path.exists(f"/tmp/.X11-unix/X{display[1:]}"), 30, what="Xvfb")
        else:
            display = self._start_free(args, log)
        self.display = display
        self.env = dict(os.environ, DISPLAY=display, NO_AT_BRIDGE="1")

    def _start_free(self, args, log):
        for number in range(20, 120):
            if _display_in_use(number):
                continue
            r, w = os.pipe()
            self.proc = subprocess.Popen(args + [f":{number}", "-displayfd", str(w)], pass_fds=(w,),
                                         stdout=subprocess.DEVNULL, stderr=log)
            os.close(w)
            try:
                # The number and a newline (written apart) come once it serves;
                # end of file when it gave up. Closing before the newline came
                # would end it.
                got, gave_up, deadline = b"", False, time.monotonic() + 30
                while not got.endswith(b"\n") and select.select([r], [], [], max(0, deadline - time.monotonic()))[0]:
                    chunk = os.read(r, 64)
                    gave_up = not chunk
                    if gave_up:
                        break
                    got += chunk
            finally:
                os.close(r)
            if got.endswith(b"\n"):
                return f":{number}"
            if not gave_up:
                self.close()
                raise AssertionError("Xvfb did not start within 30 s")
            self.proc.wait(timeout=10)  # it gave up: the number was taken meanwhile
            # Taken between the look and the start: the next one.
        raise AssertionError("no free X display number for Xvfb")

    def run(self, *args):
        """A client's standard output, stripped."""
        return subprocess.run(args, env=self.env, capture_output=True, text=True).stdout.strip()

    def screenshot(self, left, top, width, height):
        """The pixels of a part of the screen, as (r, g, b) rows left to right."""
        ppm = subprocess.run(["/usr/bin/import", "-window", "root", "-crop", f"{width}x{height}+{left}+{top}",
                              "-depth", "8", "ppm:-"], env=self.env, capture_output=True).stdout
        assert ppm.startswith(b"P6"), ppm[:20]
        data = ppm[-3 * width * height:]  # the pixels end the file
        return [tuple(data[i:i + 3]) for i in range(0, len(data), 3)]

    def osd_windows(self):
        """Ids of the OSD's 200 x 130 windows."""
        return [line.split()[0] for line in self.run("xwininfo", "-root", "-children").splitlines()
                if " 200x130+" in line]

    def mapped(self, wid, depth=None):
        """Whether the window is shown (with that many bits per pixel, if given)."""
        info = self.run("xwininfo", "-id", wid) + "\n"
        return "IsViewable" in info and (depth is None or f"Depth: {depth}\n" in info)

    def visible_osd(self, depth=None):
        return next((w for w in self.osd_windows() if self.mapped(w, depth)), None)

    def close(self):
        # Asked to end, Xvfb takes its lock file and socket with it; killed,
        # it leaves both behind.
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
