#include "tools/emulator/emulated_keyboards.hpp"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <linux/usbdevice_fs.h>
#include <sys/stat.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>

#include "config/build_config.hpp"
#include "platform/request_line.hpp"
#include "protocol/vocabulary.hpp"

namespace {

constexpr int kBusnum = 1;
constexpr size_t kReportSize = 1 + qz5::kReportBytes;  // report ID (the message type) + its bytes
constexpr const char* kProductName = "QZ5 Keyboard";

// Device descriptor, then the configuration with two HID interfaces (the
// keyboard's two event interfaces), each with one interrupt IN endpoint.
std::vector<uint8_t> Descriptors() {
    const uint8_t vidLo = kQz5UsbVendorId & 0xff, vidHi = kQz5UsbVendorId >> 8;
    const uint8_t pidLo = kQz5UsbProductId & 0xff, pidHi = kQz5UsbProductId >> 8;
    return {
        // device
        18, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 64, vidLo, vidHi, pidLo, pidHi, 0x00, 0x01, 1, 2, 0, 1,
        // configuration: total length 9 + 2 * (9 + 9 + 7) = 59
        9, 0x02, 59, 0, 2, 1, 0, 0xa0, 50,
        // interface 0: boot keyboard
        9, 0x04, 0, 0, 1, 0x03, 0x01, 0x01, 0,
        9, 0x21, 0x11, 0x01, 0x00, 1, 0x22, 63, 0,
        7, 0x05, 0x81, 0x03, 8, 0, 10,
        // interface 1: vendor reports
        9, 0x04, 1, 0, 1, 0x03, 0x00, 0x00, 0,
        9, 0x21, 0x11, 0x01, 0x00, 1, 0x22, 34, 0,
        7, 0x05, 0x82, 0x03, 16, 0, 1,
    };
}

std::string Hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", v & 0xffff);
    return buf;
}

std::string Dec3(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03d", v);
    return buf;
}

bool WriteFile(const std::string& path, const void* data, size_t len) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = ::write(fd, data, len) == static_cast<ssize_t>(len);
    ::close(fd);
    return ok;
}

template <typename T>
struct GRef {  // owns one GObject reference
    T* p = nullptr;
    explicit GRef(T* obj) : p(obj) {}
    ~GRef() {
        if (p) g_object_unref(p);
    }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
};

void Complete(UMockdevIoctlClient* client, long result, int err) {
    umockdev_ioctl_client_complete(client, result, err);
}

// The client's memory at offset..offset+size of data, as a new reference; when
// it cannot be reached the ioctl is completed with EFAULT and null returned.
UMockdevIoctlData* ResolveOrFault(UMockdevIoctlClient* client, UMockdevIoctlData* data, gsize offset,
                                  gsize size) {
    GError* error = nullptr;
    UMockdevIoctlData* resolved = umockdev_ioctl_data_resolve(data, offset, size, &error);
    if (!resolved) {
        g_clear_error(&error);
        Complete(client, -1, EFAULT);
    }
    return resolved;
}

// Copies a value into the ioctl's argument and completes it with result.
void ReplyWith(UMockdevIoctlClient* client, const void* value, size_t size, long result = 0) {
    GRef<UMockdevIoctlData> out(ResolveOrFault(client, umockdev_ioctl_client_get_arg(client), 0, size));
    if (!out.p) return;
    std::memcpy(out.p->data, value, size);
    Complete(client, result, 0);
}

}  // namespace

// A USB device node. umockdev's node is a plain file, which poll() always
// reports ready; libusb's event loop would spin on it. The node is a FIFO
// instead, with room for one byte: it holds that byte (not writable) while
// nothing waits to be reaped, and is emptied (writable, the way usbfs
// signals a completed URB) while a URB waits. A FIFO cannot raise POLLERR as
// a vanished usbfs device does, so after unplugging the node stays quiet and
// clients learn of it from the "remove" uevent and from ENODEV.
struct EmulatedKeyboards::UsbNode {
    EmulatedKeyboards* owner = nullptr;
    struct Keyboard* keyboard = nullptr;
    std::string node;  // /dev/bus/usb/BBB/DDD
    int devnum = 0;
    int fifo = -1;
    bool full = false;
    bool gone = false;
    std::map<UMockdevIoctlClient*, std::deque<UMockdevIoctlData*>> reapable;
    UMockdevIoctlBase* handler = nullptr;

    void SetReady(bool ready) {
        if (fifo < 0 || ready == !full) return;
        uint8_t byte = 0;
        if (ready) {
            full = !(::read(fifo, &byte, 1) == 1);
        } else {
            full = ::write(fifo, &byte, 1) == 1;
        }
    }
    void UpdateReady() {
        bool waiting = false;
        for (const auto& [client, urbs] : reapable) waiting = waiting || !urbs.empty();
        SetReady(waiting);
    }
};

// A hidraw node, backed by a pty whose slave side is the node. Each pending
// report puts one byte into the pty so that poll() sees the node readable;
// reads are answered by the emulator, one report per read().
struct EmulatedKeyboards::HidrawNode {
    EmulatedKeyboards* owner = nullptr;
    std::string node;  // /dev/hidrawN
    std::string sysPath;
    int master = -1;
    int slave = -1;  // the emulator's own end, to take the marker bytes back out
    bool gone = false;
    std::deque<std::array<uint8_t, kReportSize>> reports;
    UMockdevIoctlBase* handler = nullptr;
};

struct EmulatedKeyboards::Keyboard {
    int index = 0;  // 0-based
    uint8_t profile = 1;
    bool plugged = false;
    std::string usbSysPath;
    std::vector<std::string> childSysPaths;  // children first
    UsbNode* usb = nullptr;
    HidrawNode* hidraw[2] = {nullptr, nullptr};
};

namespace {

using Emulated = EmulatedKeyboards;

// Control transfer: 8 setup bytes, then the data stage, in one buffer.
void SubmitControl(Emulated::UsbNode& node, usbdevfs_urb& urb, uint8_t* buffer) {
    const uint8_t* setup = buffer;
    const uint8_t requestType = setup[0], request = setup[1];
    const uint16_t value = setup[2] | setup[3] << 8;
    const size_t length = std::min<size_t>(setup[6] | setup[7] << 8, urb.buffer_length - 8);
    node.owner->LogRequest(setup, buffer + 8);
    urb.status = 0;
    urb.actual_length = 0;
    if ((requestType & 0x80) == 0) {
        if (node.owner->Stalls(request)) {
            urb.status = -EPIPE;
            return;
        }
        urb.actual_length = static_cast<int>(length);
        if (request == qz5::kReqSelectProfile) node.keyboard->profile = static_cast<uint8_t>(value);
        return;
    }
    uint8_t* in = buffer + 8;
    if (request == qz5::kReqCurrentProfile && length >= 1) {
        in[0] = node.keyboard->profile;
        urb.actual_length = 1;
    } else if (request == qz5::kReqLightStatus && length >= 2) {
        uint8_t status[qz5::kLightStatusBytes] = {};
        status[1] = node.owner->Light();
        const size_t n = std::min<size_t>(length, sizeof status);
        std::memcpy(in, status, n);
        urb.actual_length = static_cast<int>(n);
    } else {
        urb.status = -EPIPE;  // stall
    }
}

gboolean OnUsbIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer userData) {
    auto& node = *static_cast<Emulated::UsbNode*>(userData);
    std::lock_guard<std::mutex> lock(node.owner->Lock());
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);

    if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB) {
        auto& queue = node.reapable[client];
        if (queue.empty()) {
            Complete(client, -1, node.gone ? ENODEV : EAGAIN);
            node.UpdateReady();
            return TRUE;
        }
        GRef<UMockdevIoctlData> urb(queue.front());
        queue.pop_front();
        GRef<UMockdevIoctlData> slot(ResolveOrFault(client, arg, 0, sizeof(void*)));
        if (slot.p) {
            umockdev_ioctl_data_set_ptr(slot.p, 0, urb.p);
            Complete(client, 0, 0);
        }
        node.UpdateReady();
        return TRUE;
    }
    if (node.gone) {
        Complete(client, -1, ENODEV);
        return TRUE;
    }
    switch (request) {
    case USBDEVFS_SUBMITURB: {
        UMockdevIoctlData* urbData = ResolveOrFault(client, arg, 0, sizeof(usbdevfs_urb));
        if (!urbData) return TRUE;
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        if (urb->type != USBDEVFS_URB_TYPE_CONTROL || urb->endpoint != 0 || urb->buffer_length < 8) {
            g_object_unref(urbData);
            Complete(client, -1, EINVAL);  // the keyboard is only ever spoken to on the control pipe
            return TRUE;
        }
        GRef<UMockdevIoctlData> buffer(ResolveOrFault(client, urbData, offsetof(usbdevfs_urb, buffer),
                                                      static_cast<size_t>(urb->buffer_length)));
        if (!buffer.p) {
            g_object_unref(urbData);
            return TRUE;
        }
        SubmitControl(node, *urb, buffer.p->data);
        node.reapable[client].push_back(urbData);  // keeps the reference
        Complete(client, 0, 0);
        node.UpdateReady();
        return TRUE;
    }
    case USBDEVFS_GET_CAPABILITIES: {
        const uint32_t caps = USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        ReplyWith(client, &caps, sizeof caps);
        return TRUE;
    }
    case USBDEVFS_CONNECTINFO: {
        usbdevfs_connectinfo ci{};
        ci.devnum = static_cast<unsigned>(node.devnum);
        ReplyWith(client, &ci, sizeof ci);
        return TRUE;
    }
    case USBDEVFS_GET_SPEED:
        Complete(client, 2, 0);  // full speed
        return TRUE;
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
        Complete(client, 0, 0);
        return TRUE;
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
        Complete(client, -1, ENODATA);  // no kernel driver to report or detach
        return TRUE;
    case USBDEVFS_DISCARDURB:
        Complete(client, -1, EINVAL);  // every URB completes at once
        return TRUE;
    default:
        Complete(client, -1, ENOTTY);
        return TRUE;
    }
}

void OnUsbClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer userData) {
    auto& node = *static_cast<Emulated::UsbNode*>(userData);
    std::lock_guard<std::mutex> lock(node.owner->Lock());
    auto it = node.reapable.find(client);
    if (it == node.reapable.end()) return;
    for (UMockdevIoctlData* urb : it->second) g_object_unref(urb);
    node.reapable.erase(it);
    node.UpdateReady();
}

gboolean OnHidrawRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer userData) {
    auto& node = *static_cast<Emulated::HidrawNode*>(userData);
    std::lock_guard<std::mutex> lock(node.owner->Lock());
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (node.gone) {
        Complete(client, -1, EIO);
        return TRUE;
    }
    if (node.reports.empty()) {
        Complete(client, -1, EAGAIN);
        return TRUE;
    }
    const auto report = node.reports.front();
    node.reports.pop_front();
    uint8_t marker;
    if (node.slave >= 0) (void)!::read(node.slave, &marker, 1);
    const size_t n = std::min<size_t>(kReportSize, static_cast<size_t>(std::max(arg->data_len, 0)));
    std::memcpy(arg->data, report.data(), n);
    Complete(client, static_cast<long>(n), 0);
    return TRUE;
}

gboolean OnHidrawWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer userData) {
    auto& node = *static_cast<Emulated::HidrawNode*>(userData);
    std::lock_guard<std::mutex> lock(node.owner->Lock());
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    // Output reports are accepted and dropped: the keyboard takes none.
    if (node.gone)
        Complete(client, -1, EIO);
    else
        Complete(client, arg->data_len, 0);
    return TRUE;
}

gboolean OnHidrawIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer userData) {
    auto& node = *static_cast<Emulated::HidrawNode*>(userData);
    std::lock_guard<std::mutex> lock(node.owner->Lock());
    if (node.gone) {
        Complete(client, -1, EIO);
        return TRUE;
    }
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (request == HIDIOCGRAWINFO) {
        hidraw_devinfo di{};
        di.bustype = BUS_USB;
        di.vendor = static_cast<int16_t>(kQz5UsbVendorId);
        di.product = static_cast<int16_t>(kQz5UsbProductId);
        ReplyWith(client, &di, sizeof di);
        return TRUE;
    }
    if (_IOC_TYPE(request) == 'H' && _IOC_NR(request) == _IOC_NR(HIDIOCGRAWNAME(0)) &&
        _IOC_DIR(request) == _IOC_READ) {
        const size_t len = _IOC_SIZE(request);
        if (len == 0) {
            Complete(client, -1, EFAULT);
            return TRUE;
        }
        const size_t n = std::min(len - 1, std::strlen(kProductName));
        std::string name(kProductName, n);
        ReplyWith(client, name.c_str(), n + 1, static_cast<long>(n + 1));
        return TRUE;
    }
    Complete(client, -1, ENOTTY);
    return TRUE;
}

}  // namespace

EmulatedKeyboards::EmulatedKeyboards() = default;

EmulatedKeyboards::~EmulatedKeyboards() { Stop(); }

Result<> EmulatedKeyboards::Start(const EmulatedKeyboardsOptions& options) {
    options_ = options;
    if (!options_.logFile.empty()) {
        logFd_ = ::open(options_.logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        if (logFd_ < 0) return Result<>::Fail("cannot open " + options_.logFile + ": " + std::strerror(errno));
    }
    testbed_ = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    rootDir_ = root;
    g_free(root);

    // The input device stands for the system's keyboard input; it stays when
    // the keyboards are unplugged.
    if (AddDevice("input", "input0", "", {"name", std::string(kProductName) + "\n"},
                  {"NAME", std::string("\"") + kProductName + "\"", "PRODUCT",
                   "3/" + Hex4(kQz5UsbVendorId) + "/" + Hex4(kQz5UsbProductId) + "/110", "ID_INPUT", "1",
                   "ID_INPUT_KEYBOARD", "1"})
            .empty())
        return Result<>::Fail("cannot add the input device");
    for (int i = 0; i < options_.keyboards; ++i) {
        auto kb = std::make_unique<Keyboard>();
        kb->index = i;
        kb->profile = options_.profile;
        keyboards_.push_back(std::move(kb));
    }
    if (!options_.unplugged) {
        for (auto& kb : keyboards_)
            if (auto plugged = Plug(*kb); !plugged) return plugged;
    }
    return {};
}

void EmulatedKeyboards::Stop() {
    if (!testbed_) return;
    for (auto& kb : keyboards_)
        if (kb->plugged) Unplug(*kb, false);
    for (const auto& node : attachedNodes_) umockdev_testbed_detach_ioctl(testbed_, node.c_str(), nullptr);
    attachedNodes_.clear();
    g_object_unref(testbed_);  // deletes the testbed's folder
    testbed_ = nullptr;
    for (auto& node : usbNodes_) {
        for (auto& [client, urbs] : node->reapable)
            for (UMockdevIoctlData* urb : urbs) g_object_unref(urb);
        node->reapable.clear();
        if (node->fifo >= 0) ::close(node->fifo);
        if (node->handler) g_object_unref(node->handler);
    }
    for (auto& node : hidrawNodes_) {
        if (node->slave >= 0) ::close(node->slave);
        if (node->master >= 0) ::close(node->master);
        if (node->handler) g_object_unref(node->handler);
    }
    if (logFd_ >= 0) ::close(logFd_);
    logFd_ = -1;
}

void EmulatedKeyboards::LogRequest(const uint8_t setup[8], const uint8_t* data) {
    if (logFd_ < 0) return;
    const std::string line = FormatRequestLine(setup, data) + "\n";
    if (::write(logFd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        std::fprintf(stderr, "qz5-emulator: cannot write %s: %s\n", options_.logFile.c_str(), std::strerror(errno));
}

std::string EmulatedKeyboards::AddDevice(const char* subsystem, const std::string& name, const std::string& parent,
                                     const std::vector<std::string>& attributes,
                                     const std::vector<std::string>& properties) {
    std::vector<gchar*> attrs, props;
    for (const auto& s : attributes) attrs.push_back(const_cast<gchar*>(s.c_str()));
    for (const auto& s : properties) props.push_back(const_cast<gchar*>(s.c_str()));
    attrs.push_back(nullptr);
    props.push_back(nullptr);
    gchar* path = umockdev_testbed_add_devicev(testbed_, subsystem, name.c_str(),
                                               parent.empty() ? nullptr : parent.c_str(), attrs.data(),
                                               props.data());
    std::string result = path ? path : "";
    g_free(path);
    return result;
}

Result<> EmulatedKeyboards::Plug(Keyboard& kb) {
    const int devnum = nextDevnum_++;
    const std::string usbName = std::to_string(kBusnum) + "-" + std::to_string(kb.index + 1);
    const std::string usbNode = "/dev/bus/usb/" + Dec3(kBusnum) + "/" + Dec3(devnum);
    const std::string vid = Hex4(kQz5UsbVendorId), pid = Hex4(kQz5UsbProductId);
    char productBuf[32];
    std::snprintf(productBuf, sizeof productBuf, "%x/%x/100", kQz5UsbVendorId, kQz5UsbProductId);
    const std::string product = productBuf;

    // Nodes and ioctl handlers first: adding a device announces it at once.
    // Node states stay until Stop(), even when plugging fails half-way: a
    // handler may already point at them.
    UsbNode* usb = usbNodes_.emplace_back(std::make_unique<UsbNode>()).get();
    usb->owner = this;
    usb->keyboard = &kb;
    usb->node = usbNode;
    usb->devnum = devnum;
    const std::string dir = rootDir_ + "/dev/bus/usb/" + Dec3(kBusnum);
    g_mkdir_with_parents(dir.c_str(), 0755);
    const std::string fifoPath = rootDir_ + usbNode;
    if (::mkfifo(fifoPath.c_str(), 0666) != 0 ||
        (usb->fifo = ::open(fifoPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) < 0 ||
        ::fcntl(usb->fifo, F_SETPIPE_SZ, 4096) < 0) {
        return Result<>::Fail("cannot make " + fifoPath + ": " + std::strerror(errno));
    }
    usb->SetReady(false);
    usb->handler = umockdev_ioctl_base_new();
    g_signal_connect(usb->handler, "handle-ioctl", G_CALLBACK(OnUsbIoctl), usb);
    g_signal_connect(usb->handler, "client-vanished", G_CALLBACK(OnUsbClientVanished), usb);
    GError* gerror = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, usbNode.c_str(), usb->handler, &gerror)) {
        Result<> failed = Result<>::Fail(std::string("cannot attach ") + usbNode + ": " + gerror->message);
        g_clear_error(&gerror);
        return failed;
    }
    attachedNodes_.push_back(usbNode);

    int hidrawNumbers[2];
    for (int i = 0; i < 2; ++i) {
        HidrawNode* hid = hidrawNodes_.emplace_back(std::make_unique<HidrawNode>()).get();
        hid->owner = this;
        hidrawNumbers[i] = nextHidraw_++;
        hid->node = "/dev/hidraw" + std::to_string(hidrawNumbers[i]);
        // Non-blocking: a full pty (reports nobody reads) fails the command
        // instead of stalling the emulator.
        hid->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const char* pts = hid->master >= 0 && ::grantpt(hid->master) == 0 && ::unlockpt(hid->master) == 0
                              ? ::ptsname(hid->master)
                              : nullptr;
        if (pts) hid->slave = ::open(pts, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        if (hid->slave < 0 || ::tcgetattr(hid->slave, &tio) != 0) {
            return Result<>::Fail(std::string("cannot make a pty: ") + std::strerror(errno));
        }
        ::cfmakeraw(&tio);
        ::tcsetattr(hid->slave, TCSANOW, &tio);
        const std::string link = rootDir_ + hid->node;
        if (::symlink(pts, link.c_str()) != 0) {
            return Result<>::Fail("cannot link " + link + ": " + std::strerror(errno));
        }
        hid->handler = umockdev_ioctl_base_new();
        g_signal_connect(hid->handler, "handle-read", G_CALLBACK(OnHidrawRead), hid);
        g_signal_connect(hid->handler, "handle-write", G_CALLBACK(OnHidrawWrite), hid);
        g_signal_connect(hid->handler, "handle-ioctl", G_CALLBACK(OnHidrawIoctl), hid);
        if (!umockdev_testbed_attach_ioctl(testbed_, hid->node.c_str(), hid->handler, &gerror)) {
            Result<> failed = Result<>::Fail(std::string("cannot attach ") + hid->node + ": " + gerror->message);
            g_clear_error(&gerror);
            return failed;
        }
        attachedNodes_.push_back(hid->node);
        kb.hidraw[i] = hid;
    }

    // sysfs: the descriptors are binary; they go in before the device is
    // announced, so that a listener reading them on "add" finds them.
    const std::string usbSys = "/sys/devices/" + usbName;
    const std::string usbSysDir = rootDir_ + usbSys;
    g_mkdir_with_parents(usbSysDir.c_str(), 0755);
    const auto descriptors = Descriptors();
    if (!WriteFile(usbSysDir + "/descriptors", descriptors.data(), descriptors.size())) {
        return Result<>::Fail("cannot write the descriptors");
    }
    kb.usbSysPath = AddDevice(
        "usb", usbName, "",
        {"idVendor", vid + "\n", "idProduct", pid + "\n", "bcdDevice", "0100\n", "busnum",
         std::to_string(kBusnum) + "\n", "devnum", std::to_string(devnum) + "\n", "speed", "12\n",
         "bConfigurationValue", "1\n", "bNumConfigurations", "1\n", "bNumInterfaces", " 2\n", "bDeviceClass",
         "00\n", "bMaxPacketSize0", "64\n", "manufacturer", "QZ5\n", "product", std::string(kProductName) + "\n",
         "version", " 2.00\n"},
        {"DEVTYPE", "usb_device", "DEVNAME", usbNode, "BUSNUM", Dec3(kBusnum), "DEVNUM", Dec3(devnum), "PRODUCT",
         product, "TYPE", "0/0/0", "MAJOR", "189", "MINOR", std::to_string((kBusnum - 1) * 128 + devnum - 1),
         "DRIVER", "usb"});
    if (kb.usbSysPath.empty()) {
        return Result<>::Fail("cannot add the USB device");
    }
    kb.childSysPaths.clear();
    for (int i = 0; i < 2; ++i) {
        const std::string ifName = usbName + ":1." + std::to_string(i);
        const std::string ifSys =
            AddDevice("usb", ifName, kb.usbSysPath,
                      {"bInterfaceNumber", "0" + std::to_string(i) + "\n", "bInterfaceClass", "03\n",
                       "bInterfaceSubClass", i == 0 ? "01\n" : "00\n", "bInterfaceProtocol", i == 0 ? "01\n" : "00\n",
                       "bNumEndpoints", "01\n", "bAlternateSetting", " 0\n"},
                      {"DEVTYPE", "usb_interface", "PRODUCT", product, "TYPE", "0/0/0", "INTERFACE",
                       i == 0 ? "3/1/1" : "3/0/0", "DRIVER", "usbhid"});
        char hidName[32];
        std::snprintf(hidName, sizeof hidName, "0003:%04X:%04X.%04X", kQz5UsbVendorId, kQz5UsbProductId,
                      nextHid_++);
        char hidId[32];
        std::snprintf(hidId, sizeof hidId, "0003:%08X:%08X", kQz5UsbVendorId, kQz5UsbProductId);
        const std::string hidSys =
            AddDevice("hid", hidName, ifSys, {},
                      {"HID_ID", hidId, "HID_NAME", kProductName, "HID_PHYS",
                       "usb-qz5emu-" + std::to_string(kb.index + 1) + "/input" + std::to_string(i), "DRIVER",
                       "hid-generic"});
        const std::string hidrawName = "hidraw" + std::to_string(hidrawNumbers[i]);
        const std::string hidrawSys = AddDevice("hidraw", hidrawName, hidSys, {},
                                                {"DEVNAME", kb.hidraw[i]->node, "MAJOR", "240", "MINOR",
                                                 std::to_string(hidrawNumbers[i])});
        if (ifSys.empty() || hidSys.empty() || hidrawSys.empty()) {
            return Result<>::Fail("cannot add the HID devices");
        }
        kb.hidraw[i]->sysPath = hidrawSys;
        kb.childSysPaths.insert(kb.childSysPaths.begin(), {hidrawSys, hidSys, ifSys});
    }
    kb.usb = usb;
    kb.plugged = true;
    return {};
}

void EmulatedKeyboards::Unplug(Keyboard& kb, bool sendEvents) {
    // Every URB completes when it is submitted, so none is in flight here;
    // completed ones can still be reaped, everything else fails with ENODEV.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        kb.usb->gone = true;
        kb.usb->UpdateReady();
        for (HidrawNode* hid : kb.hidraw) {
            hid->gone = true;
            hid->reports.clear();
            if (hid->master >= 0) ::close(hid->master);  // hangs up the readers
            hid->master = -1;
        }
    }
    // Enumeration stops finding the devices before anyone hears of their
    // removal; "remove" goes out children first, while sysfs still describes
    // them (the uevent is built from it).
    HideFromEnumeration(kb.usbSysPath);
    if (sendEvents) {
        for (const auto& path : kb.childSysPaths) umockdev_testbed_uevent(testbed_, path.c_str(), "remove");
        umockdev_testbed_uevent(testbed_, kb.usbSysPath.c_str(), "remove");
    }
    ::unlink((rootDir_ + kb.usb->node).c_str());
    for (HidrawNode* hid : kb.hidraw) ::unlink((rootDir_ + hid->node).c_str());
    for (const auto& path : kb.childSysPaths) umockdev_testbed_remove_device(testbed_, path.c_str());
    umockdev_testbed_remove_device(testbed_, kb.usbSysPath.c_str());
    kb.childSysPaths.clear();
    kb.plugged = false;
}

// Removes the /sys/bus/*/devices and /sys/class/* links that point into
// sysPath, so that enumerations no longer find the devices beneath it.
void EmulatedKeyboards::HideFromEnumeration(const std::string& sysPath) {
    char* resolved = ::realpath((rootDir_ + sysPath).c_str(), nullptr);
    if (!resolved) return;
    const std::string target = resolved;
    std::free(resolved);
    std::vector<std::string> dirs;
    const std::string sys = rootDir_ + "/sys";
    for (const char* group : {"/bus", "/class"}) {
        GDir* dir = g_dir_open((sys + group).c_str(), 0, nullptr);
        if (!dir) continue;
        while (const gchar* name = g_dir_read_name(dir))
            dirs.push_back(sys + group + "/" + name + (group[1] == 'b' ? "/devices" : ""));
        g_dir_close(dir);
    }
    for (const auto& d : dirs) {
        GDir* dir = g_dir_open(d.c_str(), 0, nullptr);
        if (!dir) continue;
        std::vector<std::string> links;
        while (const gchar* name = g_dir_read_name(dir)) links.push_back(d + "/" + name);
        g_dir_close(dir);
        for (const auto& link : links) {
            char* real = ::realpath(link.c_str(), nullptr);
            if (real && std::strncmp(real, target.c_str(), target.size()) == 0 &&
                (real[target.size()] == 0 || real[target.size()] == '/'))
                ::unlink(link.c_str());
            std::free(real);
        }
    }
}

Result<> EmulatedKeyboards::Report(size_t node, const std::vector<std::string>& words) {
    if (words.size() != 1 + kReportSize) return Result<>::Fail("expected a type and 8 bytes");
    std::array<uint8_t, kReportSize> report{};
    for (size_t i = 0; i < kReportSize; ++i) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(words[i + 1].c_str(), &end, 16);
        if (words[i + 1].empty() || *end != 0 || v > 0xff)
            return Result<>::Fail("not a hex byte: " + words[i + 1]);
        report[i] = static_cast<uint8_t>(v);
    }
    Keyboard& kb = *keyboards_.front();
    if (!kb.plugged) return Result<>::Fail("the keyboard is unplugged");
    std::lock_guard<std::mutex> lock(mutex_);
    HidrawNode& hid = *kb.hidraw[node];
    hid.reports.push_back(report);
    const uint8_t marker = 0;
    if (::write(hid.master, &marker, 1) != 1) {
        hid.reports.pop_back();
        return Result<>::Fail(std::string("cannot deliver: ") + std::strerror(errno));
    }
    return {};
}

Result<> EmulatedKeyboards::Execute(const std::string& line) {
    std::vector<std::string> words;
    gchar** parts = g_strsplit_set(line.c_str(), " \t", -1);
    for (gchar** p = parts; *p; ++p)
        if (**p) words.emplace_back(*p);
    g_strfreev(parts);
    if (words.empty()) return Result<>::Fail("empty command");
    if (words[0] == "report") return Report(0, words);
    if (words[0] == "report2") return Report(1, words);
    if (words[0] == "unplug" && words.size() == 1) {
        for (auto& kb : keyboards_)
            if (kb->plugged) Unplug(*kb, true);
        return {};
    }
    if (words[0] == "stall" && words.size() == 2) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (words[1] == "off") {
            stalled_ = -1;
            return {};
        }
        char* end = nullptr;
        const long request = std::strtol(words[1].c_str(), &end, 16);
        if (*end != '\0' || request < 0 || request > 0xFF)
            return Result<>::Fail("stall takes a request code in hex or off");
        stalled_ = static_cast<int>(request);
        return {};
    }
    if (words[0] == "plug" && words.size() == 1) {
        for (auto& kb : keyboards_)
            if (!kb->plugged)
                if (auto plugged = Plug(*kb); !plugged) return plugged;
        return {};
    }
    return Result<>::Fail("unknown command");
}
