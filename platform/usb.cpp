#include "platform/usb.hpp"

#include <cstring>

#include "config/build_config.hpp"
#include "platform/request_line.hpp"

void SetupPacket(const IOUSBDevRequest& r, uint8_t out[8]) {
    out[0] = r.bmRequestType;
    out[1] = r.bRequest;
    out[2] = static_cast<uint8_t>(r.wValue & 0xFF);
    out[3] = static_cast<uint8_t>(r.wValue >> 8);
    out[4] = static_cast<uint8_t>(r.wIndex & 0xFF);
    out[5] = static_cast<uint8_t>(r.wIndex >> 8);
    out[6] = static_cast<uint8_t>(r.wLength & 0xFF);
    out[7] = static_cast<uint8_t>(r.wLength >> 8);
}

PrintingUsbBus::PrintingUsbBus(std::FILE* out) : out_(out) {}

int PrintingUsbBus::Enumerate(uint16_t vendorId, uint16_t productId,
                              std::vector<std::unique_ptr<UsbDevice>>& found) {
    if (vendorId == kQz5UsbVendorId && productId == kQz5UsbProductId)
        found.push_back(std::make_unique<UsbDevice>());
    return 0;
}

int PrintingUsbBus::Open(UsbDevice&) { return 0; }

int PrintingUsbBus::ControlTransfer(UsbDevice&, IOUSBDevRequest& request) {
    uint8_t setup[8];
    SetupPacket(request, setup);
    if (IsDeviceToHost(request) && request.wLength > 0 && request.pData)
        std::memset(request.pData, 0, request.wLength);
    const std::string line = FormatRequestLine(setup, static_cast<const uint8_t*>(request.pData));
    std::fprintf(out_, "%s\n", line.c_str());
    request.wLenDone = request.wLength;
    return 0;
}

int PrintingUsbBus::Close(UsbDevice&) { return 0; }

std::unique_ptr<UsbDevice> UsbBus::Find(uint16_t vendorId, uint16_t productId, int busnum, int devnum) {
    std::vector<std::unique_ptr<UsbDevice>> found;
    Enumerate(vendorId, productId, found);
    for (auto& d : found)
        if (d->At(busnum, devnum)) return std::move(d);
    return nullptr;
}
