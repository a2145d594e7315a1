#include "platform/udev.hpp"

#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <libudev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

namespace {

struct Udev {
    udev* ctx = udev_new();
    ~Udev() {
        if (ctx) udev_unref(ctx);
    }
};

uint16_t HexAttr(udev_device* d, const char* name) {
    const char* v = d ? udev_device_get_sysattr_value(d, name) : nullptr;
    return v ? static_cast<uint16_t>(std::strtoul(v, nullptr, 16)) : 0;
}

int DecAttr(udev_device* d, const char* name) {
    const char* v = d ? udev_device_get_sysattr_value(d, name) : nullptr;
    return v ? std::atoi(v) : 0;
}

UdevDevice Describe(udev_device* d) {
    UdevDevice out;
    out.syspath = udev_device_get_syspath(d);
    if (const char* node = udev_device_get_devnode(d)) out.devnode = node;
    const char* devtype = udev_device_get_devtype(d);
    udev_device* usb = devtype && std::strcmp(devtype, "usb_device") == 0
                           ? d
                           : udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device");
    if (usb) {
        out.vendorId = HexAttr(usb, "idVendor");
        out.productId = HexAttr(usb, "idProduct");
        out.busnum = DecAttr(usb, "busnum");
        out.devnum = DecAttr(usb, "devnum");
    }
    return out;
}

// Every device of subsystem (and devtype, when given), described.
std::vector<UdevDevice> Enumerate(const char* subsystem, const char* devtype, std::string& error) {
    error.clear();
    std::vector<UdevDevice> found;
    Udev u;
    if (!u.ctx) {
        error = "cannot create a udev context";
        return found;
    }
    udev_enumerate* e = udev_enumerate_new(u.ctx);
    int rc = e ? udev_enumerate_add_match_subsystem(e, subsystem) : -ENOMEM;
    if (rc >= 0 && devtype) rc = udev_enumerate_add_match_property(e, "DEVTYPE", devtype);
    if (rc >= 0) rc = udev_enumerate_scan_devices(e);
    if (rc < 0) {
        error = std::string("udev enumeration failed: ") + std::strerror(-rc);
    } else {
        udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
            udev_device* d = udev_device_new_from_syspath(u.ctx, udev_list_entry_get_name(entry));
            if (!d) continue;
            found.push_back(Describe(d));
            udev_device_unref(d);
        }
    }
    if (e) udev_enumerate_unref(e);
    return found;
}

}  // namespace

std::string FirstInputDevice(std::string& error) {
    const auto devices = Enumerate("input", nullptr, error);
    return devices.empty() ? "" : devices.front().syspath;
}

std::vector<UdevDevice> EnumerateUsbDevices(uint16_t vendorId, uint16_t productId, std::string& error) {
    std::vector<UdevDevice> keyboards;
    for (auto& d : Enumerate("usb", "usb_device", error))
        if (d.vendorId == vendorId && d.productId == productId) keyboards.push_back(std::move(d));
    return keyboards;
}

std::vector<UdevDevice> EnumerateHidrawNodes(std::string& error) { return Enumerate("hidraw", nullptr, error); }

namespace {
HidrawLister g_lister = nullptr;
}

void SetHidrawLister(HidrawLister lister) { g_lister = lister; }
HidrawLister CurrentHidrawLister() { return g_lister ? g_lister : &EnumerateHidrawNodes; }

// --- hot plug ---

struct UsbHotplugMonitor::Impl {
    udev* ctx = nullptr;
    udev_monitor* monitor = nullptr;
    guint source = 0;
    uint16_t vendorId = 0, productId = 0;
    Callback added = nullptr, removed = nullptr, nodeAdded = nullptr;
    std::set<std::string> known;  // keyboards seen arriving, by syspath

    // The kernel's PRODUCT property of a USB device: "vid/pid/bcd" in hex.
    bool ProductMatches(udev_device* d) const {
        const char* p = udev_device_get_property_value(d, "PRODUCT");
        if (!p) return false;
        char* end = nullptr;
        const unsigned long vid = std::strtoul(p, &end, 16);
        if (*end != '/') return false;
        const unsigned long pid = std::strtoul(end + 1, &end, 16);
        return vid == vendorId && pid == productId;
    }

    static gboolean OnEvent(gint, GIOCondition, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        while (udev_device* d = udev_monitor_receive_device(self->monitor)) {
            const char* action = udev_device_get_action(d);
            const char* devtype = udev_device_get_devtype(d);
            const std::string a = action ? action : "";
            const char* subsystem = udev_device_get_subsystem(d);
            if (a == "add" && subsystem && std::strcmp(subsystem, "hidraw") == 0) {
                const UdevDevice node = Describe(d);
                if (node.vendorId == self->vendorId && node.productId == self->productId) self->nodeAdded({node});
            } else if (devtype && std::strcmp(devtype, "usb_device") == 0) {
                UdevDevice dev;
                dev.syspath = udev_device_get_syspath(d);
                if ((a == "add" || a == "bind") && HexAttr(d, "idVendor") == self->vendorId &&
                    HexAttr(d, "idProduct") == self->productId) {
                    dev = Describe(d);
                    self->known.insert(dev.syspath);
                    self->added({dev});
                } else if (a == "remove" && (self->known.erase(dev.syspath) > 0 || self->ProductMatches(d))) {
                    self->removed({dev});
                }
            }
            udev_device_unref(d);
        }
        return G_SOURCE_CONTINUE;
    }
};

std::unique_ptr<UsbHotplugMonitor> UsbHotplugMonitor::Start(uint16_t vendorId, uint16_t productId,
                                                            Callback added, Callback removed,
                                                            Callback nodeAdded, std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->vendorId = vendorId;
    impl->productId = productId;
    impl->added = added;
    impl->removed = removed;
    impl->nodeAdded = nodeAdded;
    impl->ctx = udev_new();
    if (impl->ctx) impl->monitor = udev_monitor_new_from_netlink(impl->ctx, "udev");
    if (!impl->monitor || udev_monitor_filter_add_match_subsystem_devtype(impl->monitor, "usb", "usb_device") < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(impl->monitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(impl->monitor) < 0) {
        error = "cannot watch USB devices through udev";
        if (impl->monitor) udev_monitor_unref(impl->monitor);
        if (impl->ctx) udev_unref(impl->ctx);
        return nullptr;
    }
    impl->source = g_unix_fd_add(udev_monitor_get_fd(impl->monitor), G_IO_IN, &Impl::OnEvent, impl.get());
    return std::unique_ptr<UsbHotplugMonitor>(new UsbHotplugMonitor(std::move(impl)));
}

UsbHotplugMonitor::UsbHotplugMonitor(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

UsbHotplugMonitor::~UsbHotplugMonitor() {
    g_source_remove(impl_->source);
    udev_monitor_unref(impl_->monitor);
    udev_unref(impl_->ctx);
}

void UsbHotplugMonitor::Know(const UdevDevice& device) { impl_->known.insert(device.syspath); }

// --- hidraw ---

struct HidrawWatch::Impl {
    std::string syspath;
    int fd = -1;
    guint source = 0;
    Report report = nullptr;

    void Close() {
        if (source) g_source_remove(source);
        source = 0;
        if (fd >= 0) ::close(fd);
        fd = -1;
    }

    static gboolean OnReadable(gint, GIOCondition condition, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        uint8_t buffer[64];
        while (true) {
            const ssize_t n = ::read(self->fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN && !(condition & (G_IO_HUP | G_IO_ERR))) return G_SOURCE_CONTINUE;
            if (n <= 0) break;  // end of file, an error, or a hang-up with nothing left
            if (n >= 9) self->report(nullptr, self->syspath, buffer[0], buffer + 1);
        }
        self->source = 0;  // returning G_SOURCE_REMOVE removes it
        ::close(self->fd);
        self->fd = -1;
        return G_SOURCE_REMOVE;
    }
};

std::unique_ptr<HidrawWatch> HidrawWatch::Open(const std::string& syspath, Report report, std::string& error,
                                               int& errorNumber) {
    errorNumber = 0;
    std::string devnode;
    {
        Udev u;
        udev_device* d = u.ctx ? udev_device_new_from_syspath(u.ctx, syspath.c_str()) : nullptr;
        if (d && udev_device_get_devnode(d)) devnode = udev_device_get_devnode(d);
        if (d) udev_device_unref(d);
    }
    if (devnode.empty()) {
        errorNumber = ENODEV;
        error = syspath + " has no device node";
        return nullptr;
    }
    const int fd = ::open(devnode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        errorNumber = errno;
        error = "cannot open " + devnode + ": " + std::strerror(errno);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->syspath = syspath;
    impl->fd = fd;
    impl->report = report;
    impl->source = g_unix_fd_add(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), &Impl::OnReadable,
                                 impl.get());
    return std::unique_ptr<HidrawWatch>(new HidrawWatch(std::move(impl)));
}

HidrawWatch::HidrawWatch(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HidrawWatch::~HidrawWatch() { impl_->Close(); }
bool HidrawWatch::IsOpen() const { return impl_->fd >= 0; }
