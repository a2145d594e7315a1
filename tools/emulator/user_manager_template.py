"""A python3-dbusmock template for the user's service manager on the
session bus: org.freedesktop.systemd1 with the Manager property
"Environment" and a StartTransientUnit that really runs the unit's
ExecStart (the stock template records the call and runs nothing) with the
manager's environment plus the unit's Environment, its WorkingDirectory and
the standard input and error it was handed. Each started unit is appended
to the file named by the parameter "log" as one JSON line: the unit's name
and its properties (descriptors as "fd"). The parameter "refuse" makes every
StartTransientUnit fail as an old manager fails on a property it does not
know. Hold(true) on org.freedesktop.DBus.Mock holds every reply to a Get of
"Environment" (a manager that is slow to answer) until Hold(false); Held()
says how many are held."""

import json
import os
import subprocess

import dbus

BUS_NAME = "org.freedesktop.systemd1"
MAIN_OBJ = "/org/freedesktop/systemd1"
MAIN_IFACE = "org.freedesktop.systemd1.Manager"
MOCK_IFACE = "org.freedesktop.DBus.Mock"
SYSTEM_BUS = False


def load(mock, parameters):
    mock.unit_log = parameters["log"]
    mock.refuse = bool(parameters.get("refuse", False))
    mock.next_job = 1
    mock.hold = False
    mock.held = []
    mock.AddProperties(MAIN_IFACE, {
        "Version": "252",
        "Environment": dbus.Array(parameters.get("environment", []), signature="s"),
    })


@dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v", async_callbacks=("reply", "error"))
def Get(self, interface, name, reply, error):
    answer = lambda: reply(self.GetAll(interface or MAIN_IFACE)[name])  # noqa: E731
    if name not in self.GetAll(interface or MAIN_IFACE):
        error(dbus.exceptions.DBusException(f"no such property {name}", name=MAIN_IFACE + ".UnknownProperty"))
    elif self.hold and name == "Environment":
        self.held.append(answer)
    else:
        answer()


@dbus.service.method(MOCK_IFACE, in_signature="b", out_signature="")
def Hold(self, hold):
    self.hold = bool(hold)
    while not self.hold and self.held:
        self.held.pop(0)()


@dbus.service.method(MOCK_IFACE, in_signature="", out_signature="u")
def Held(self):
    return len(self.held)


def plain(value):
    if isinstance(value, dbus.types.UnixFd):
        return "fd"
    if isinstance(value, (list, tuple, dbus.Array, dbus.Struct)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (int, dbus.UInt32, dbus.Int32)):
        return int(value)
    return str(value)


@dbus.service.method(MAIN_IFACE, in_signature="ssa(sv)a(sa(sv))", out_signature="o")
def StartTransientUnit(self, name, mode, properties, aux):
    props = {str(k): v for k, v in properties}
    if self.refuse:
        for v in props.values():
            if isinstance(v, dbus.types.UnixFd):
                os.close(v.take())
        raise dbus.exceptions.DBusException("Cannot set property ExitType, or unknown property.",
                                            name="org.freedesktop.DBus.Error.PropertyReadOnly")
    with open(self.unit_log, "a") as f:
        f.write(json.dumps({"name": str(name), "mode": str(mode),
                            "properties": {k: plain(v) for k, v in props.items()}}) + "\n")
    env = dict(line.split("=", 1) for line in self.GetAll(MAIN_IFACE)["Environment"] if "=" in line)
    env.update(line.split("=", 1) for line in props.get("Environment", []) if "=" in line)
    stdin = props["StandardInputFileDescriptor"].take() if "StandardInputFileDescriptor" in props else subprocess.DEVNULL
    stderr = props["StandardErrorFileDescriptor"].take() if "StandardErrorFileDescriptor" in props else None
    path, argv, _ = props["ExecStart"][0]
    try:
        subprocess.Popen([str(a) for a in argv], executable=str(path), env=env, stdin=stdin, stderr=stderr,
                         cwd=str(props.get("WorkingDirectory", os.path.expanduser("~"))), start_new_session=True)
    finally:
        for fd in (stdin, stderr):
            if isinstance(fd, int) and fd >= 0:
                os.close(fd)
    job = self.next_job
    self.next_job += 1
    return dbus.ObjectPath(f"{MAIN_OBJ}/job/{job}")
