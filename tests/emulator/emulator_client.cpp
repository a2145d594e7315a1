// Runs under qz5-emulator and checks what a program sees of the emulated
// keyboards through libusb, libudev and hidraw. One scenario per run:
//
//   emulator_client requests LOG PROFILE LIGHT
//   emulator_client reports FIFO
//   emulator_client hotplug FIFO        (emulator started with --unplugged)
//   emulator_client two LOG PROFILE     (emulator started with --keyboards 2)
//   emulator_client idle FIFO
//   emulator_client sigterm             (exits 42 once SIGTERM arrives)
//   emulator_client timing FIFO         (prints the cost of requests and reports)
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
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "config/build_config.hpp"
#include "platform/request_line.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(10);

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

int MillisLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// ---- libusb

struct Usb {
    libusb_context* ctx = nullptr;
    Usb() { Check(libusb_init(&ctx) == 0, "libusb_init"); }
    ~Usb() { libusb_exit(ctx); }

    std::vector<libusb_device*> Keyboards() {
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx, &list);
        std::vector<libusb_device*> found;
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor d{};
            if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idVendor == kQz5UsbVendorId &&
                d.idProduct == kQz5UsbProductId)
                found.push_back(libusb_ref_device(list[i]));
        }
        libusb_free_device_list(list, 1);
        return found;
    }
};

libusb_device_handle* Open(libusb_device* dev) {
    libusb_device_handle* h = nullptr;
    const int r = libusb_open(dev, &h);
    if (r != 0) Fail("libusb_open: %s", libusb_error_name(r));
    return h;
}

struct Request {
    uint8_t type, request;
    uint16_t value, index;
    std::vector<uint8_t> data;  // OUT: the data stage; IN: sized to wLength

    std::string Line() const {
        const uint8_t setup[8] = {type,
                                  request,
                                  uint8_t(value),
                                  uint8_t(value >> 8),
                                  uint8_t(index),
                                  uint8_t(index >> 8),
                                  uint8_t(data.size()),
                                  uint8_t(data.size() >> 8)};
        return FormatRequestLine(setup, data.data());
    }
};

int Send(libusb_device_handle* h, Request& r) {
    return libusb_control_transfer(h, r.type, r.request, r.value, r.index, r.data.data(),
                                   static_cast<uint16_t>(r.data.size()), 2000);
}

int ReadByte(libusb_device_handle* h, uint8_t request, size_t length, size_t at) {
    Request r{0xc0, request, 0, 0, std::vector<uint8_t>(length)};
    const int n = Send(h, r);
    if (n < 0) Fail("IN request %02x: %s", request, libusb_error_name(n));
    if (static_cast<size_t>(n) != length) Fail("IN request %02x gave %d bytes, expected %zu", request, n, length);
    return r.data[at];
}

void SendOut(libusb_device_handle* h, Request r) {
    const int n = Send(h, r);
    if (n != static_cast<int>(r.data.size())) Fail("OUT request %02x: %s", r.request, libusb_error_name(n));
}

// ---- files and FIFO

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void ExpectLog(const std::string& path, const std::vector<std::string>& expected) {
    // Every line is written before its request completes: no waiting.
    const auto lines = ReadLines(path);
    if (lines.size() != expected.size())
        Fail("%s has %zu lines, expected %zu", path.c_str(), lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] != expected[i])
            Fail("%s line %zu:\n  got      %.120s\n  expected %.120s", path.c_str(), i + 1, lines[i].c_str(),
                 expected[i].c_str());
}

void Command(const std::string& fifo, const std::string& text) {
    const int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) Fail("open %s: %s", fifo.c_str(), std::strerror(errno));
    Check(write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()), "write to the control FIFO");
    close(fd);
}

// ---- udev

// Our keyboards' hidraw nodes: devnode -> interface number.
std::map<std::string, int> HidrawNodes(udev* u) {
    std::map<std::string, int> nodes;
    udev_enumerate* e = udev_enumerate_new(u);
    udev_enumerate_add_match_subsystem(e, "hidraw");
    udev_enumerate_scan_devices(e);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
        udev_device* d = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
        udev_device* intf = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_interface");
        udev_device* usb = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device");
        const char* vid = usb ? udev_device_get_sysattr_value(usb, "idVendor") : nullptr;
        const char* pid = usb ? udev_device_get_sysattr_value(usb, "idProduct") : nullptr;
        const char* num = intf ? udev_device_get_sysattr_value(intf, "bInterfaceNumber") : nullptr;
        if (vid && pid && num && std::strtoul(vid, nullptr, 16) == kQz5UsbVendorId &&
            std::strtoul(pid, nullptr, 16) == kQz5UsbProductId && udev_device_get_devnode(d))
            nodes[udev_device_get_devnode(d)] = static_cast<int>(std::strtol(num, nullptr, 16));
        udev_device_unref(d);
    }
    udev_enumerate_unref(e);
    return nodes;
}

std::string NodeOfInterface(udev* u, int interface) {
    for (const auto& [node, num] : HidrawNodes(u))
        if (num == interface) return node;
    Fail("no hidraw node for interface %d", interface);
}

size_t CountDevices(udev* u, const char* subsystem) {
    udev_enumerate* e = udev_enumerate_new(u);
    udev_enumerate_add_match_subsystem(e, subsystem);
    udev_enumerate_scan_devices(e);
    size_t n = 0;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) ++n;
    udev_enumerate_unref(e);
    return n;
}

struct Monitor {
    udev_monitor* mon;
    explicit Monitor(udev* u) : mon(udev_monitor_new_from_netlink(u, "udev")) {
        Check(mon != nullptr, "udev monitor");
        udev_monitor_filter_add_match_subsystem_devtype(mon, "usb", "usb_device");
        udev_monitor_filter_add_match_subsystem_devtype(mon, "hidraw", nullptr);
        Check(udev_monitor_enable_receiving(mon) == 0, "udev monitor receiving");
    }
    ~Monitor() { udev_monitor_unref(mon); }

    // Waits for ACTION on one usb_device and two hidraw devices.
    void Expect(const char* action) {
        int usb = 0, hidraw = 0;
        const auto deadline = Clock::now() + kPatience;
        while (usb < 1 || hidraw < 2) {
            pollfd p{udev_monitor_get_fd(mon), POLLIN, 0};
            if (poll(&p, 1, MillisLeft(deadline)) <= 0)
                Fail("\"%s\" uevents: %d usb_device, %d hidraw", action, usb, hidraw);
            udev_device* d = udev_monitor_receive_device(mon);
            if (!d) continue;
            if (std::strcmp(udev_device_get_action(d), action) == 0)
                (std::strcmp(udev_device_get_subsystem(d), "usb") == 0 ? usb : hidraw)++;
            udev_device_unref(d);
        }
    }
};

// ---- hidraw

using Report = std::vector<uint8_t>;

Report ReadReport(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, MillisLeft(Clock::now() + kPatience)) != 1) Fail("no report arrived");
    uint8_t buf[64];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) Fail("read: %s", std::strerror(errno));
    return Report(buf, buf + n);
}

void ExpectNoReport(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) != 0) Fail("the node polls readable with no report pending");
    uint8_t buf[64];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n != -1 || errno != EAGAIN) Fail("expected EAGAIN, read gave %zd (%s)", n, std::strerror(errno));
}

int OpenNode(const std::string& node) {
    const int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) Fail("open %s: %s", node.c_str(), std::strerror(errno));
    return fd;
}

// ---- scenarios

int Requests(const std::string& log, int profile, int light) {
    Usb usb;
    auto kbs = usb.Keyboards();
    Check(kbs.size() == 1, "exactly one keyboard");
    libusb_config_descriptor* config = nullptr;
    Check(libusb_get_active_config_descriptor(kbs[0], &config) == 0, "configuration descriptor");
    Check(config->bNumInterfaces == 2, "two interfaces");
    libusb_free_config_descriptor(config);
    libusb_device_handle* h = Open(kbs[0]);

    std::vector<uint8_t> block(4096);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
    std::vector<std::string> expected;
    const std::vector<Request> outs = {
        {0x40, 0x01, 0, 0, {}},
        {0x40, 0x31, 0x0102, 0x83, {}},
        {0x40, 0x12, 0x1000, 2, block},
        {0x40, 0x16, 0, 3, std::vector<uint8_t>(63, 0xff)},
    };
    for (const auto& r : outs) {
        SendOut(h, r);
        expected.push_back(r.Line());
    }
    if (ReadByte(h, 0x15, 1, 0) != profile) Fail("request 0x15 does not give --profile");
    SendOut(h, {0x40, 0x14, 3, 0, {}});
    if (ReadByte(h, 0x15, 1, 0) != 3) Fail("request 0x15 does not follow 0x14");
    if (ReadByte(h, 0x04, 8, 1) != light) Fail("request 0x04 does not give --light in byte 1");
    Request other{0xc0, 0x16, 0, 0, std::vector<uint8_t>(8)};
    if (const int r = Send(h, other); r != LIBUSB_ERROR_PIPE) Fail("request 0xc0 0x16 did not stall: %d", r);
    for (const char* line : {"c0 15 00 00 00 00 01 00", "40 14 03 00 00 00 00 00", "c0 15 00 00 00 00 01 00",
                             "c0 04 00 00 00 00 08 00", "c0 16 00 00 00 00 08 00"})
        expected.push_back(line);
    ExpectLog(log, expected);
    libusb_close(h);
    for (auto* d : kbs) libusb_unref_device(d);
    return 0;
}

int Reports(const std::string& fifo) {
    udev* u = udev_new();
    const int first = OpenNode(NodeOfInterface(u, 0));
    const int second = OpenNode(NodeOfInterface(u, 1));
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
    if (ReadReport(first) != Report{4, 1, 2, 3, 4, 5, 6, 7, 8}) Fail("first report");
    if (ReadReport(first) != Report{8, 0xff, 0, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f}) Fail("second report");
    if (ReadReport(second) != Report{4, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80}) Fail("report2");
    ExpectNoReport(first);
    ExpectNoReport(second);
    close(first);
    close(second);
    udev_unref(u);
    return 0;
}

struct HotplugCounts {
    int arrived = 0, left = 0;
};

int OnHotplug(libusb_context*, libusb_device*, libusb_hotplug_event event, void* data) {
    auto* counts = static_cast<HotplugCounts*>(data);
    (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? counts->arrived : counts->left)++;
    return 0;
}

void WaitHotplug(Usb& usb, const int& counter, int value) {
    const auto deadline = Clock::now() + kPatience;
    while (counter < value) {
        if (Clock::now() >= deadline) Fail("libusb saw no hotplug event");
        timeval tv{0, 100000};
        libusb_handle_events_timeout_completed(usb.ctx, &tv, nullptr);
    }
}

int Hotplug(const std::string& fifo) {
    udev* u = udev_new();
    Usb usb;
    Monitor monitor(u);
    HotplugCounts counts;
    Check(libusb_hotplug_register_callback(usb.ctx,
                                           LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                                           LIBUSB_HOTPLUG_NO_FLAGS, kQz5UsbVendorId, kQz5UsbProductId,
                                           LIBUSB_HOTPLUG_MATCH_ANY, OnHotplug, &counts, nullptr) == 0,
          "libusb hotplug callback");
    Check(CountDevices(u, "input") == 1, "the input device is there while unplugged");
    Check(usb.Keyboards().empty() && HidrawNodes(u).empty(), "no keyboard before plug");

    int lastDevnum = -1;
    for (int round = 1; round <= 2; ++round) {
        Command(fifo, "plug\n");
        monitor.Expect("add");
        WaitHotplug(usb, counts.arrived, round);
        auto kbs = usb.Keyboards();
        Check(kbs.size() == 1, "one keyboard after plug");
        const int devnum = libusb_get_device_address(kbs[0]);
        if (devnum == lastDevnum) Fail("the plugged keyboard reuses device number %d", devnum);
        lastDevnum = devnum;
        libusb_device_handle* h = Open(kbs[0]);
        Check(ReadByte(h, 0x15, 1, 0) == 1, "a plugged keyboard answers");
        const int reader = OpenNode(NodeOfInterface(u, 0));
        Command(fifo, "report 8 01 00 00 00 00 00 00 00\n");
        Check(ReadReport(reader).size() == 9, "a plugged keyboard reports");

        Command(fifo, "unplug\n");
        monitor.Expect("remove");
        WaitHotplug(usb, counts.left, round);
        pollfd p{reader, POLLIN, 0};
        Check(poll(&p, 1, MillisLeft(Clock::now() + kPatience)) == 1, "the reader wakes on unplug");
        uint8_t buf[16];
        const ssize_t n = read(reader, buf, sizeof buf);
        if (!(n == 0 || (n < 0 && errno == EIO))) Fail("read after unplug gave %zd (%s)", n, std::strerror(errno));
        close(reader);
        uint8_t byte;
        const int r = libusb_control_transfer(h, 0xc0, 0x15, 0, 0, &byte, 1, 2000);
        if (r != LIBUSB_ERROR_NO_DEVICE) Fail("request to an unplugged keyboard gave %s", libusb_error_name(r));
        libusb_close(h);
        for (auto* d : kbs) libusb_unref_device(d);
        Check(usb.Keyboards().empty(), "libusb lists no keyboard after unplug");
        Check(HidrawNodes(u).empty(), "no hidraw node after unplug");
        Check(CountDevices(u, "input") == 1, "the input device stays");
    }
    udev_unref(u);
    return 0;
}

int Two(const std::string& log, int profile) {
    Usb usb;
    auto kbs = usb.Keyboards();
    Check(kbs.size() == 2, "two keyboards");
    udev* u = udev_new();
    Check(HidrawNodes(u).size() == 4, "four hidraw nodes");
    udev_unref(u);
    const Request work{0x40, 0x02, 3, 0, {}};
    std::vector<libusb_device_handle*> handles;
    for (auto* d : kbs) {
        handles.push_back(Open(d));
        SendOut(handles.back(), work);
    }
    SendOut(handles[0], {0x40, 0x14, 3, 0, {}});  // one keyboard only
    Check(ReadByte(handles[0], 0x15, 1, 0) == 3, "the first keyboard took the new profile");
    Check(ReadByte(handles[1], 0x15, 1, 0) == profile, "the second keyboard keeps its profile");
    ExpectLog(log, {work.Line(), work.Line(), "40 14 03 00 00 00 00 00", "c0 15 00 00 00 00 01 00",
                    "c0 15 00 00 00 00 01 00"});
    for (auto* h : handles) libusb_close(h);
    for (auto* d : kbs) libusb_unref_device(d);
    return 0;
}

// utime + stime of a process, in clock ticks (fields 14 and 15 of its stat).
long CpuTicks(const std::string& statPath) {
    std::ifstream in(statPath);
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));  // from field 3 on
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip;
    long utime = -1, stime = -1;
    fields >> utime >> stime;
    Check(utime >= 0 && stime >= 0, "readable /proc stat");
    return utime + stime;
}

double OwnCpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Neither the emulator nor libusb may spin while nothing happens: measured
// over an idle interval with a keyboard open and libusb waiting for events,
// and again after the keyboard was unplugged under the open handle.
void ExpectIdle(Usb& usb, const char* what) {
    const std::string emulatorStat = "/proc/" + std::to_string(getppid()) + "/stat";
    const double tick = 1.0 / double(sysconf(_SC_CLK_TCK));
    const long emuBefore = CpuTicks(emulatorStat);
    const double ownBefore = OwnCpuSeconds();
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(1);
    while (Clock::now() < end) {
        timeval tv{0, MillisLeft(end) * 1000};
        libusb_handle_events_timeout_completed(usb.ctx, &tv, nullptr);
    }
    const double interval = std::chrono::duration<double>(Clock::now() - start).count();
    const double emulator = double(CpuTicks(emulatorStat) - emuBefore) * tick;
    const double own = OwnCpuSeconds() - ownBefore;
    std::printf("%s, idle %.2f s: emulator %.3f s CPU, client %.3f s CPU\n", what, interval, emulator, own);
    if (emulator > 0.05 * interval) Fail("%s: the emulator is busy while idle", what);
    if (own > 0.05 * interval) Fail("%s: libusb spins on the emulated device", what);
}

int Idle(const std::string& fifo) {
    Usb usb;
    udev* u = udev_new();
    Monitor monitor(u);
    auto kbs = usb.Keyboards();
    Check(kbs.size() == 1, "one keyboard");
    libusb_device_handle* h = Open(kbs[0]);
    ReadByte(h, 0x15, 1, 0);
    ExpectIdle(usb, "plugged");
    Command(fifo, "unplug\n");
    monitor.Expect("remove");
    ExpectIdle(usb, "unplugged");
    libusb_close(h);
    for (auto* d : kbs) libusb_unref_device(d);
    udev_unref(u);
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

// Not a test: prints what requests and reports cost through the emulator.
int Timing(const std::string& fifo) {
    Usb usb;
    auto kbs = usb.Keyboards();
    Check(kbs.size() == 1, "one keyboard");
    auto perCall = [](Clock::time_point start, int n) {
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / n;
    };
    constexpr int kRounds = 200;
    auto start = Clock::now();
    for (int i = 0; i < kRounds; ++i) libusb_close(Open(kbs[0]));
    std::printf("open + close:               %7.1f us\n", perCall(start, kRounds));
    libusb_device_handle* h = Open(kbs[0]);
    start = Clock::now();
    for (int i = 0; i < kRounds; ++i) SendOut(h, {0x40, 0x02, 1, 0, {}});
    std::printf("OUT request, no data:       %7.1f us\n", perCall(start, kRounds));
    start = Clock::now();
    for (int i = 0; i < kRounds; ++i) SendOut(h, {0x40, 0x12, 0, 1, std::vector<uint8_t>(4096, 0x5a)});
    std::printf("OUT request, 4096 bytes:    %7.1f us\n", perCall(start, kRounds));
    start = Clock::now();
    for (int i = 0; i < kRounds; ++i) ReadByte(h, 0x15, 1, 0);
    std::printf("IN request 0x15:            %7.1f us\n", perCall(start, kRounds));
    libusb_close(h);
    udev* u = udev_new();
    const int fd = OpenNode(NodeOfInterface(u, 0));
    const int control = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    const std::string cmd = "report 4 00 00 00 00 00 00 00 00\n";
    start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        Check(write(control, cmd.data(), cmd.size()) == ssize_t(cmd.size()), "control write");
        ReadReport(fd);
    }
    std::printf("report, command to read():  %7.1f us\n", perCall(start, kRounds));
    close(control);
    close(fd);
    udev_unref(u);
    for (auto* d : kbs) libusb_unref_device(d);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "requests") return Requests(args[1], std::stoi(args[2]), std::stoi(args[3]));
    if (args.size() == 2 && args[0] == "reports") return Reports(args[1]);
    if (args.size() == 2 && args[0] == "hotplug") return Hotplug(args[1]);
    if (args.size() == 3 && args[0] == "two") return Two(args[1], std::stoi(args[2]));
    if (args.size() == 2 && args[0] == "idle") return Idle(args[1]);
    if (args.size() == 1 && args[0] == "sigterm") return Sigterm();
    if (args.size() == 2 && args[0] == "timing") return Timing(args[1]);
    std::fprintf(stderr, "usage: emulator_client SCENARIO [ARGS...]\n");
    return 2;
}
