// The USB bus over libusb-1.0.
#include <libusb.h>
#include <time.h>

#include "platform/usb.hpp"

namespace {

constexpr unsigned kTransferTimeoutMs = 1000;

// The one libusb context of the process, made on first use.
class Context {
public:
    ~Context() {
        if (ctx_) libusb_exit(ctx_);
    }
    // The context, or nullptr with the failure in *status.
    libusb_context* Get(int* status) {
        if (!ctx_) *status = libusb_init(&ctx_);
        if (!ctx_) return nullptr;
        *status = 0;
        return ctx_;
    }

private:
    libusb_context* ctx_ = nullptr;
};

class LibusbDevice : public UsbDevice {
public:
    explicit LibusbDevice(libusb_device* dev) : dev(libusb_ref_device(dev)) {}
    ~LibusbDevice() override {
        if (handle) libusb_close(handle);
        libusb_unref_device(dev);
    }
    LibusbDevice(const LibusbDevice&) = delete;
    LibusbDevice& operator=(const LibusbDevice&) = delete;
    bool At(int busnum, int devnum) const override {
        return libusb_get_bus_number(dev) == busnum && libusb_get_device_address(dev) == devnum;
    }

    libusb_device* dev;
    libusb_device_handle* handle = nullptr;
};

class Libusb : public UsbBus {
public:
    int Enumerate(uint16_t vendorId, uint16_t productId,
                  std::vector<std::unique_ptr<UsbDevice>>& found) override {
        int status = 0;
        libusb_context* ctx = context_.Get(&status);
        if (!ctx) return status;
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx, &list);
        if (n < 0) return static_cast<int>(n);
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor desc;
            if (libusb_get_device_descriptor(list[i], &desc) != 0) continue;
            if (desc.idVendor == vendorId && desc.idProduct == productId)
                found.push_back(std::make_unique<LibusbDevice>(list[i]));
        }
        libusb_free_device_list(list, 1);
        return 0;
    }

    int Open(UsbDevice& device) override {
        auto& d = static_cast<LibusbDevice&>(device);
        if (d.handle) return 0;
        return libusb_open(d.dev, &d.handle);
    }

    int ControlTransfer(UsbDevice& device, IOUSBDevRequest& r) override {
        auto& d = static_cast<LibusbDevice&>(device);
        if (!d.handle) return LIBUSB_ERROR_INVALID_PARAM;
        const int n = libusb_control_transfer(d.handle, r.bmRequestType, r.bRequest, r.wValue,
                                              r.wIndex, static_cast<unsigned char*>(r.pData),
                                              r.wLength, kTransferTimeoutMs);
        if (n < 0) return n;
        r.wLenDone = static_cast<uint32_t>(n);
        return 0;
    }

    // libusb learns of a new device from the same uevent as its caller, on
    // its own thread: give it up to a second to catch up.
    std::unique_ptr<UsbDevice> Find(uint16_t vendorId, uint16_t productId, int busnum, int devnum) override {
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (auto d = UsbBus::Find(vendorId, productId, busnum, devnum)) return d;
            const timespec step{0, 20 * 1000 * 1000};
            nanosleep(&step, nullptr);
        }
        return nullptr;
    }

    int Close(UsbDevice& device) override {
        auto& d = static_cast<LibusbDevice&>(device);
        if (d.handle) libusb_close(d.handle);
        d.handle = nullptr;
        return 0;
    }

private:
    Context context_;
};

}  // namespace

bool IsExclusiveAccess(int status) { return status == LIBUSB_ERROR_BUSY || status == LIBUSB_ERROR_ACCESS; }
bool IsDeviceGone(int status) { return status == LIBUSB_ERROR_NO_DEVICE; }
const int kUsbNotFound = LIBUSB_ERROR_NOT_FOUND;

UsbBus& LibusbBus() {
    static Libusb bus;
    return bus;
}
