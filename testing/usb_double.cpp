#include "testing/usb_double.hpp"

#include <algorithm>
#include <cstring>

#include "platform/request_line.hpp"

std::string RecordedRequest::Line() const { return FormatRequestLine(setup, data.data()); }

class RecordingUsbBus::Device : public UsbDevice {
public:
    Device(RecordingUsbBus& bus, int number) : bus(bus), number(number) { ++bus.deviceLive; }
    ~Device() override {
        if (open) --bus.openCount;
        --bus.deviceLive;
    }
    // Keyboard n sits on bus 1 at address n + 1.
    bool At(int busnum, int devnum) const override { return busnum == 1 && devnum == number + 1; }
    RecordingUsbBus& bus;
    int number;
    bool open = false;
};

int RecordingUsbBus::AddDevice(uint16_t vendorId, uint16_t productId) {
    Attached device;
    device.vendorId = vendorId;
    device.productId = productId;
    devices_.push_back(std::move(device));
    return static_cast<int>(devices_.size()) - 1;
}

void RecordingUsbBus::SetReply(int device, uint8_t bRequest, std::vector<uint8_t> bytes) {
    devices_.at(device).replies[bRequest] = std::move(bytes);
}

int RecordingUsbBus::Enumerate(uint16_t vendorId, uint16_t productId,
                               std::vector<std::unique_ptr<UsbDevice>>& found) {
    if (enumerateStatus_) return enumerateStatus_;
    for (size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i].vendorId == vendorId && devices_[i].productId == productId)
            found.push_back(std::make_unique<Device>(*this, static_cast<int>(i)));
    return 0;
}

int RecordingUsbBus::Open(UsbDevice& device) {
    auto& d = static_cast<Device&>(device);
    if (int status = devices_[d.number].openStatus) return status;
    if (!d.open) ++openCount;
    d.open = true;
    return 0;
}

int RecordingUsbBus::ControlTransfer(UsbDevice& device, IOUSBDevRequest& r) {
    auto& d = static_cast<Device&>(device);
    RecordedRequest rec{d.number, {}, {}, 0};
    SetupPacket(r, rec.setup);
    const auto fail = failTransfers_.find(requests.size());
    if (!d.open) {
        rec.status = -1;  // LIBUSB_ERROR_IO: a transfer on a device that is not open
    } else if (fail != failTransfers_.end()) {
        rec.status = fail->second;
    } else if (IsDeviceToHost(r)) {
        const auto& reply = devices_[d.number].replies[r.bRequest];
        const size_t n = std::min<size_t>(reply.size(), r.wLength);
        if (n) std::memcpy(r.pData, reply.data(), n);
        rec.data.assign(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(n));
        r.wLenDone = static_cast<uint32_t>(n);
    } else {
        const auto* p = static_cast<const uint8_t*>(r.pData);
        if (r.wLength) rec.data.assign(p, p + r.wLength);
        r.wLenDone = r.wLength;
    }
    requests.push_back(rec);
    if (onRequest) onRequest(requests.back());
    return rec.status;
}

int RecordingUsbBus::Close(UsbDevice& device) {
    auto& d = static_cast<Device&>(device);
    if (d.open) --openCount;
    d.open = false;
    return 0;
}
