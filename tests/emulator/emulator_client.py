#!/usr/bin/python3
"""Runs under qz5-emulator and checks what a program sees of the emulated
keyboards through libusb, sysfs and hidraw. One scenario per run (plugging
and unplugging are driven through the daemon's own system tests):

  emulator_client.py VID:PID two LOG PROFILE   (emulator started with --keyboards 2)
  emulator_client.py VID:PID reports FIFO
  emulator_client.py VID:PID sigterm           (exits 42 once SIGTERM arrives)

Exit status 0 when every check holds, 1 with a message otherwise."""
import ctypes
import fcntl
import os
import select
import signal
import struct
import sys
from ctypes import POINTER, byref, c_uint8, c_void_p

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


def two(log, profile):
    """Two keyboards, each with its own profile state; the log holds every
    request of either in order, IN requests as their setup bytes. (Data
    blocks, stalls and the light byte are checked by the transport's tests.)"""
    usb = ctypes.CDLL("libusb-1.0.so.0")  # every pointer passed as a ctypes object, never a plain int
    ctx, devices, handles = c_void_p(), POINTER(c_void_p)(), []
    check(usb.libusb_init(byref(ctx)) == 0, "libusb_init")
    for i in range(usb.libusb_get_device_list(ctx, byref(devices))):
        device, descriptor = c_void_p(devices[i]), ctypes.create_string_buffer(18)
        if usb.libusb_get_device_descriptor(device, descriptor) or struct.unpack_from("=HH", descriptor.raw, 8) != IDS:
            continue
        config = POINTER(c_uint8)()
        check(usb.libusb_get_active_config_descriptor(device, byref(config)) == 0 and config[4] == 2, "two interfaces")
        usb.libusb_free_config_descriptor(config)
        handles.append(c_void_p())
        check(usb.libusb_open(device, byref(handles[-1])) == 0, "libusb_open")
    usb.libusb_free_device_list(devices, 1)
    check(len(handles) == 2, "two keyboards")
    check(len(hidraw_nodes()) == 4, "four hidraw nodes")

    def request(h, kind, number, value):
        """A vendor request without data (0x40) or reading one byte (0xc0); that byte."""
        data = ctypes.create_string_buffer(1)
        n = usb.libusb_control_transfer(h, kind, number, value, 0, data, kind >> 7, 2000)
        check(n == kind >> 7, f"request {kind:02x} {number:02x}: {n}")
        return data.raw[0]
    for h in handles:
        request(h, 0x40, 0x02, 3)
    request(handles[0], 0x40, 0x14, 3)  # one keyboard only
    check(request(handles[0], 0xC0, 0x15, 0) == 3, "the first keyboard took the new profile")
    check(request(handles[1], 0xC0, 0x15, 0) == profile, "the second keyboard keeps --profile")
    for h in handles:
        usb.libusb_close(h)
    usb.libusb_exit(ctx)
    # Every line is written before its request completes: no waiting.
    want = ["40 02 03 00 00 00 00 00"] * 2 + ["40 14 03 00 00 00 00 00"] + ["c0 15 00 00 00 00 01 00"] * 2
    got = open(log).read()
    check(got == "".join(l + "\n" for l in want), f"{log} holds:\n{got[:2000]}")


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
if scenario == "two" and len(args) == 2:
    two(args[0], int(args[1]))
elif scenario == "reports" and len(args) == 1:
    reports(args[0])
elif scenario == "sigterm" and not args:
    sigterm()
else:
    sys.exit("usage: emulator_client.py VID:PID two LOG PROFILE | reports FIFO | sigterm")
