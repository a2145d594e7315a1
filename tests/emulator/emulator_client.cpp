// Runs under qz5-emulator and checks what a program sees of the emulated
// keyboards through libusb, libudev and hidraw. One scenario per run (plugging
// and unplugging are driven through the daemon's own system tests):
//
//   emulator_client two LOG PROFILE     (emulator started with --keyboards 2)
//   emulator_client reports FIFO
//   emulator_client sigterm             (exits 42 once SIGTERM arrives)
//
// Exit status 0 when every check holds, 1 with a message otherwise.
#if defined(_FORTIFY_SOURCE) && _FORTIFY_SOURCE > 0
#error "hidraw reads must reach the umockdev preload: build without _FORTIFY_SOURCE"
#endif

#include <fcntl.h>
#include <libudev.h>
#include <libusb-1.0/libusb.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <iterator>
#include <string>
#include <vector>

#include "config/build_config.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void Fail(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::fputs("FAIL: ", stderr);
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
    va_end(ap);
    std::exit(1);
}

void Check(bool ok, const char* what) {
    if (!ok) Fail("%s", what);
}

bool Readable(int fd, int millis) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, millis) == 1;
}

// Opens every emulated keyboard libusb lists; each must offer two interfaces.
std::vector<libusb_device_handle*> OpenKeyboards(libusb_context* ctx) {
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    std::vector<libusb_device_handle*> found;
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(list[i], &d) != 0 || d.idVendor != kQz5UsbVendorId ||
            d.idProduct != kQz5UsbProductId)
            continue;
        libusb_config_descriptor* config = nullptr;
        Check(libusb_get_active_config_descriptor(list[i], &config) == 0 && config->bNumInterfaces == 2,
              "two interfaces");
        libusb_free_config_descriptor(config);
        libusb_device_handle* h = nullptr;
        if (const int r = libusb_open(list[i], &h); r != 0) Fail("libusb_open: %s", libusb_error_name(r));
        found.push_back(h);
    }
    libusb_free_device_list(list, 1);
    return found;
}

// A vendor request without data (type 0x40) or reading one byte (0xc0); that byte.
int Request(libusb_device_handle* h, uint8_t type, uint8_t request, uint16_t value) {
    uint8_t byte = 0;
    const uint16_t length = type & 0x80 ? 1 : 0;
    const int n = libusb_control_transfer(h, type, request, value, 0, &byte, length, 2000);
    if (n != length) Fail("request %02x %02x: %s", type, request, n < 0 ? libusb_error_name(n) : "short");
    return byte;
}

void Command(const std::string& fifo, const std::string& text) {
    const int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) Fail("open %s: %s", fifo.c_str(), std::strerror(errno));
    Check(write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()), "write to the control FIFO");
    close(fd);
}

// ---- udev and hidraw

// Our keyboards' hidraw nodes: devnode -> interface number.
std::map<std::string, int> HidrawNodes() {
    static udev* u = udev_new();
    std::map<std::string, int> nodes;
    udev_enumerate* e = udev_enumerate_new(u);
    udev_enumerate_add_match_subsystem(e, "hidraw");
    udev_enumerate_scan_devices(e);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
        udev_device* d = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
        udev_device* intf = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_interface");
        udev_device* usb = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device");
        auto hex = [](udev_device* dev, const char* attr) {
            const char* v = dev ? udev_device_get_sysattr_value(dev, attr) : nullptr;
            return v ? std::strtol(v, nullptr, 16) : -1;
        };
        if (hex(usb, "idVendor") == kQz5UsbVendorId && hex(usb, "idProduct") == kQz5UsbProductId &&
            hex(intf, "bInterfaceNumber") >= 0 && udev_device_get_devnode(d))
            nodes[udev_device_get_devnode(d)] = static_cast<int>(hex(intf, "bInterfaceNumber"));
        udev_device_unref(d);
    }
    udev_enumerate_unref(e);
    return nodes;
}

// Opens the (first) hidraw node of an interface, non-blocking.
int OpenNode(int interface) {
    for (const auto& [node, num] : HidrawNodes()) {
        if (num != interface) continue;
        const int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) Fail("open %s: %s", node.c_str(), std::strerror(errno));
        return fd;
    }
    Fail("no hidraw node for interface %d", interface);
}

Bytes ReadReport(int fd) {
    if (!Readable(fd, 10000)) Fail("no report arrived within 10 s");
    uint8_t buf[64];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) Fail("read: %s", std::strerror(errno));
    return Bytes(buf, buf + n);
}

void ExpectNoReport(int fd) {
    if (Readable(fd, 0)) Fail("the node polls readable with no report pending");
    uint8_t buf[64];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n != -1 || errno != EAGAIN) Fail("expected EAGAIN, read gave %zd (%s)", n, std::strerror(errno));
}

// ---- scenarios

// Two keyboards, each with its own profile state; the log holds every request
// of either in order, IN requests as their setup bytes. (Data blocks, stalls
// and the light byte are checked by the transport's tests.)
int Two(const std::string& log, int profile) {
    libusb_context* ctx = nullptr;
    Check(libusb_init(&ctx) == 0, "libusb_init");
    const auto h = OpenKeyboards(ctx);
    Check(h.size() == 2, "two keyboards");
    Check(HidrawNodes().size() == 4, "four hidraw nodes");
    for (auto* k : h) Request(k, 0x40, 0x02, 3);
    Request(h[0], 0x40, 0x14, 3);  // one keyboard only
    Check(Request(h[0], 0xc0, 0x15, 0) == 3, "the first keyboard took the new profile");
    Check(Request(h[1], 0xc0, 0x15, 0) == profile, "the second keyboard keeps --profile");
    for (auto* k : h) libusb_close(k);
    libusb_exit(ctx);
    // Every line is written before its request completes: no waiting.
    std::ifstream in(log);
    const std::string got(std::istreambuf_iterator<char>(in), {});
    const std::string want = "40 02 03 00 00 00 00 00\n40 02 03 00 00 00 00 00\n40 14 03 00 00 00 00 00\n"
                             "c0 15 00 00 00 00 01 00\nc0 15 00 00 00 00 01 00\n";
    if (got != want) Fail("%s holds:\n%.2000s\nexpected:\n%s", log.c_str(), got.c_str(), want.c_str());
    return 0;
}

int Reports(const std::string& fifo) {
    const int first = OpenNode(0), second = OpenNode(1);
    hidraw_devinfo info{};
    Check(ioctl(second, HIDIOCGRAWINFO, &info) == 0 && info.bustype == BUS_USB &&
              uint16_t(info.vendor) == kQz5UsbVendorId && uint16_t(info.product) == kQz5UsbProductId,
          "HIDIOCGRAWINFO names the keyboard");
    ExpectNoReport(first);
    ExpectNoReport(second);
    // Back to back, in one write: each must still arrive as a read of its own.
    Command(fifo,
            "report 4 01 02 03 04 05 06 07 08\n"
            "report 8 ff 00 0a 0b 0c 0d 0e 0f\n"
            "report zz\n"
            "report2 4 10 20 30 40 50 60 70 80\n");
    Check(ReadReport(first) == Bytes{4, 1, 2, 3, 4, 5, 6, 7, 8}, "first report");
    Check(ReadReport(first) == Bytes{8, 0xff, 0, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f}, "second report");
    Check(ReadReport(second) == Bytes{4, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80}, "report2");
    ExpectNoReport(first);
    ExpectNoReport(second);
    return 0;
}

int Sigterm() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    kill(getppid(), SIGTERM);
    const timespec patience{10, 0};
    if (sigtimedwait(&set, nullptr, &patience) != SIGTERM) Fail("SIGTERM was not forwarded");
    return 42;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string scenario = args.empty() ? "" : args[0];
    if (args.size() == 3 && scenario == "two") return Two(args[1], std::stoi(args[2]));
    if (args.size() == 2 && scenario == "reports") return Reports(args[1]);
    if (args.size() == 1 && scenario == "sigterm") return Sigterm();
    std::fprintf(stderr, "usage: emulator_client SCENARIO [ARGS...]\n");
    return 2;
}
