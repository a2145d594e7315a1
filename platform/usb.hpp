// The USB control-request record and the few operations the keyboard
// transport needs of the platform: find the attached devices with a vendor
// and product ID, open one, perform one control transfer on its default pipe,
// close it. Every failure is an int status: a libusb error code (negative).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

// One control request, filled field by field by the caller.
struct IOUSBDevRequest {
    uint8_t bmRequestType;  // 0x40 vendor out, 0xC0 vendor in (device recipient)
    uint8_t bRequest;
    uint16_t wValue;
    uint16_t wIndex;
    uint16_t wLength;   // bytes in the data stage
    void* pData;        // source (out) or destination (in) of the data stage
    uint32_t wLenDone;  // bytes actually transferred
};

inline bool IsDeviceToHost(const IOUSBDevRequest& r) { return (r.bmRequestType & 0x80) != 0; }

// The 8 setup bytes in wire order (wValue, wIndex, wLength little-endian).
void SetupPacket(const IOUSBDevRequest& r, uint8_t out[8]);

// One attached device as its bus knows it. Destroying it releases it (and
// closes it if it is still open).
class UsbDevice {
public:
    virtual ~UsbDevice() = default;
    // Whether this is the device at this bus number and address.
    virtual bool At(int /*busnum*/, int /*devnum*/) const { return false; }
};

class UsbBus {
public:
    virtual ~UsbBus() = default;
    // Appends the attached devices with this vendor and product ID to found,
    // in enumeration order. Returns 0 or a failure status.
    virtual int Enumerate(uint16_t vendorId, uint16_t productId,
                          std::vector<std::unique_ptr<UsbDevice>>& found) = 0;
    virtual int Open(UsbDevice& device) = 0;
    // One control transfer on the open device; sets wLenDone. Returns 0 or a
    // failure status.
    virtual int ControlTransfer(UsbDevice& device, IOUSBDevRequest& request) = 0;
    virtual int Close(UsbDevice& device) = 0;
    // The device with these IDs at this bus number and address; nullptr when
    // there is none.
    virtual std::unique_ptr<UsbDevice> Find(uint16_t vendorId, uint16_t productId, int busnum, int devnum);
};

// Whether an open failed because another client holds the device (libusb
// says busy, or access denied while the device is claimed).
bool IsExclusiveAccess(int status);
// Whether an open or a transfer failed because the device was unplugged.
bool IsDeviceGone(int status);
// The status of a device the bus does not list.
extern const int kUsbNotFound;

// The real bus, over libusb-1.0: one context for the process, 1 s timeout per
// control transfer.
UsbBus& LibusbBus();

// A bus with one keyboard attached that prints every request as one line
// (FormatRequestLine) to its stream and answers device-to-host requests with zeros.
class PrintingUsbBus : public UsbBus {
public:
    explicit PrintingUsbBus(std::FILE* out);
    int Enumerate(uint16_t vendorId, uint16_t productId,
                  std::vector<std::unique_ptr<UsbDevice>>& found) override;
    int Open(UsbDevice& device) override;
    int ControlTransfer(UsbDevice& device, IOUSBDevRequest& request) override;
    int Close(UsbDevice& device) override;

private:
    std::FILE* out_;
};
