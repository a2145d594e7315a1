// Device lookups and hot-plug events through libudev.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The syspath of the first device of the "input" subsystem: the system's
// input stack is there. "" when there is none; error is set when the lookup
// itself failed.
std::string FirstInputDevice(std::string& error);

struct UdevDevice {
    std::string syspath;
    std::string devnode;  // "" when it has none
    int busnum = 0;       // USB devices: where libusb finds them
    int devnum = 0;
    uint16_t vendorId = 0;  // hidraw nodes: those of the USB device above them, 0 when none
    uint16_t productId = 0;
};

// The USB devices (usb_device) with this vendor and product ID, in
// enumeration order.
std::vector<UdevDevice> EnumerateUsbDevices(uint16_t vendorId, uint16_t productId, std::string& error);
// Every hidraw node, in enumeration order, with the IDs of its USB device.
std::vector<UdevDevice> EnumerateHidrawNodes(std::string& error);
// The lister of hidraw nodes the driver lookup uses; nullptr restores udev.
using HidrawLister = std::vector<UdevDevice> (*)(std::string& error);
void SetHidrawLister(HidrawLister lister);
HidrawLister CurrentHidrawLister();

// USB devices with one vendor and product ID coming and going, watched on
// the main loop (a udev monitor: "add" or "bind" of a usb_device is an
// arrival, its "remove" a departure), and their hidraw nodes appearing (the
// kernel makes them after it announced the device).
class UsbHotplugMonitor {
public:
    using Callback = void (*)(const std::vector<UdevDevice>& devices);
    static std::unique_ptr<UsbHotplugMonitor> Start(uint16_t vendorId, uint16_t productId, Callback added,
                                                    Callback removed, Callback nodeAdded, std::string& error);
    ~UsbHotplugMonitor();
    // A device found by enumeration counts as known, so its removal is reported.
    void Know(const UdevDevice& device);

    struct Impl;

private:
    explicit UsbHotplugMonitor(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// One hidraw node watched on the main loop: every input report of nine bytes
// or more (report ID, then eight data bytes) is handed on; shorter ones are
// dropped. On hang-up, error or end of file the node is closed and the watch
// ends by itself.
class HidrawWatch {
public:
    using Report = void (*)(void* refCon, const std::string& syspath, uint32_t type, const uint8_t* data);
    // nullptr with error set (errno in errorNumber) when the node cannot be opened.
    static std::unique_ptr<HidrawWatch> Open(const std::string& syspath, Report report, std::string& error,
                                             int& errorNumber);
    ~HidrawWatch();
    bool IsOpen() const;

    struct Impl;

private:
    explicit HidrawWatch(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
