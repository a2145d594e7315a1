#!/usr/bin/python3
"""Runs under qz5-emulator and checks what a program sees of the emulated
keyboards through sysfs and hidraw. One scenario per run (plugging and
unplugging are driven through the daemon's own system tests, requests
through the transport's):

  emulator_client.py VID:PID reports FIFO
  emulator_client.py VID:PID sigterm           (exits 42 once SIGTERM arrives)

Exit status 0 when every check holds, 1 with a message otherwise."""
import fcntl
import os
import select
import signal
import struct
import sys

IDS = tuple(int(n, 0) for n in sys.argv[1].split(":"))
HIDIOCGRAWINFO = 0x80084803  # _IOR('H', 3, struct hidraw_devinfo): u32 bus, s16 vendor, s16 product
BUS_USB = 3


def check(ok, what):
    if not ok:
        sys.exit("FAIL: " + what)


def hidraw_nodes():
    """Our keyboards' hidraw nodes: devnode -> interface number."""
    def attr(d, name):
        return int(open(f"{d}/{name}").read(), 16) if os.path.exists(f"{d}/{name}") else None
    nodes = {}
    for name in os.listdir("/sys/class/hidraw"):
        d, interface = os.path.realpath("/sys/class/hidraw/" + name), None
        while d != "/" and attr(d, "idVendor") is None:
            interface = attr(d, "bInterfaceNumber") if interface is None else interface
            d = os.path.dirname(d)
        if (attr(d, "idVendor"), attr(d, "idProduct")) == IDS and interface is not None:
            nodes["/dev/" + name] = interface
    return nodes


def reports(fifo):
    nodes = hidraw_nodes()
    first, second = (os.open(min(n for n, i in nodes.items() if i == interface), os.O_RDONLY | os.O_NONBLOCK)
                     for interface in (0, 1))
    info = struct.unpack("=IHH", fcntl.ioctl(second, HIDIOCGRAWINFO, bytes(8)))
    check(info == (BUS_USB, *IDS), f"HIDIOCGRAWINFO names the keyboard: {info}")

    def readable(fd, millis):
        p = select.poll()
        p.register(fd, select.POLLIN)
        return p.poll(millis)

    def expect_no_report():
        for fd in first, second:
            check(not readable(fd, 0), "the node polls readable with no report pending")
            try:
                check(False, f"read gave {os.read(fd, 64)!r}, expected EAGAIN")
            except BlockingIOError:
                pass
    expect_no_report()
    # Back to back, in one write: each must still arrive as a read of its own.
    with open(fifo, "w") as f:
        f.write("report 4 01 02 03 04 05 06 07 08\nreport 8 ff 00 0a 0b 0c 0d 0e 0f\n"
                "report zz\nreport2 4 10 20 30 40 50 60 70 80\n")
    for fd, want in [(first, "0401020304050607 08"), (first, "08ff000a0b0c0d0e 0f"),
                     (second, "0410203040506070 80")]:
        check(readable(fd, 10000), "a report within 10 s")
        got = os.read(fd, 64)
        check(got == bytes.fromhex(want), f"report {got.hex()}, expected {want}")
    expect_no_report()


def sigterm():
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})
    os.kill(os.getppid(), signal.SIGTERM)
    check(signal.sigtimedwait({signal.SIGTERM}, 10), "SIGTERM was not forwarded")
    sys.exit(42)


scenario, args = sys.argv[2], sys.argv[3:]
if scenario == "reports" and len(args) == 1:
    reports(args[0])
elif scenario == "sigterm" and not args:
    sigterm()
else:
    sys.exit("usage: emulator_client.py VID:PID reports FIFO | sigterm")
