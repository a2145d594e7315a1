// Test double of the USB bus: keyboards that record every control request
// (setup packet and data stage), answer device-to-host requests with scripted
// bytes, and fail chosen opens or transfers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "config/build_config.hpp"
#include "platform/usb.hpp"

struct RecordedRequest {
    int device;                 // number returned by AddDevice
    uint8_t setup[8];
    std::vector<uint8_t> data;  // out: the wLength bytes sent; in: the bytes answered
    int status;                 // what the transfer reported
    std::string Line() const;   // FormatRequestLine of setup and data
};

class RecordingUsbBus : public UsbBus {
public:
    // Attaches one more device; returns its number (0, 1, ...).
    int AddDevice(uint16_t vendorId = kQz5UsbVendorId, uint16_t productId = kQz5UsbProductId);
    // Device-to-host requests with this bRequest copy up to wLength of these bytes.
    void SetReply(int device, uint8_t bRequest, std::vector<uint8_t> bytes);
    void FailEnumerate(int status) { enumerateStatus_ = status; }
    void FailOpen(int device, int status) { devices_.at(device).openStatus = status; }
    // The transfer with this sequence number (0-based, counted over all
    // devices) fails with status and moves no data.
    void FailTransfer(size_t sequence, int status) { failTransfers_[sequence] = status; }

    int Enumerate(uint16_t vendorId, uint16_t productId,
                  std::vector<std::unique_ptr<UsbDevice>>& found) override;
    int Open(UsbDevice& device) override;
    int ControlTransfer(UsbDevice& device, IOUSBDevRequest& request) override;
    int Close(UsbDevice& device) override;

    std::vector<RecordedRequest> requests;
    std::function<void(const RecordedRequest&)> onRequest;  // called after each is recorded
    int openCount = 0;    // devices open right now
    int deviceLive = 0;   // enumerated devices not yet released

private:
    struct Attached {
        uint16_t vendorId = 0, productId = 0;
        int openStatus = 0;
        std::map<uint8_t, std::vector<uint8_t>> replies;
    };
    class Device;
    std::vector<Attached> devices_;
    std::map<size_t, int> failTransfers_;
    int enumerateStatus_ = 0;
};
