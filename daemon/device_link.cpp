// The keyboard arriving and leaving, its driver nodes and their messages.
#include <algorithm>
#include <memory>
#include <vector>

#include "config/build_config.hpp"
#include "daemon/application.hpp"
#include "platform/log.hpp"

void DeviceAddedNotifProc(const std::vector<UdevDevice>& devices) {
    bool found = false;
    int retries = 0;
    UsbBus& bus = CurrentUsbBus();
    for (const UdevDevice& added : devices) {
        std::unique_ptr<UsbDevice> device = bus.Find(kQz5UsbVendorId, kQz5UsbProductId, added.busnum, added.devnum);
        if (!device) {
            PrintErrMsg(kUsbNotFound, "unable to create a plugin\n");
            continue;
        }
        int status = bus.Open(*device);
        while (IsExclusiveAccess(status)) {
            ++retries;
            PrintErrMsg(retries, "Exclusive access err, sleeping on it\n");
            Pause(1000000);
            if (retries > 4) break;
            status = bus.Open(*device);
        }
        if (status != 0) {
            PrintErrMsg(status, "unable to open device\n");
            continue;
        }
        bus.Close(*device);
        found = true;
        PrintErrMsg(1, "DeviceAddedNotifProc\n");
    }
    Application* app = Application::GetApp();
    if (!found || !app->IsLoggedIn()) return;
    app->SetMyDriver00(FindMyDriver(app->GetMyDriver00(), true));
    app->SetMyDriver01(FindMyDriver(app->GetMyDriver01(), false));
    app->SetIsOnDev(true);
    app->RegisterForDeviceNotif();
    PostStautToAp();
}

void DeviceRemovedNotifProc(const std::vector<UdevDevice>& devices) {
    for (size_t i = 0; i < devices.size(); ++i) {
        Application::GetApp()->SetIsOnDev(false);
        PrintErrMsg(1, "DeviceRemovedNotifProc\n");
    }
}

void DriverNodeAddedProc(const std::vector<UdevDevice>&) {
    Application* app = Application::GetApp();
    if (!app->GetIsOnDev()) return;  // the next arrival looks them up
    const std::string first = FindMyDriver("", true), last = FindMyDriver("", false);
    if (first == app->GetMyDriver00() && last == app->GetMyDriver01()) return;
    app->SetMyDriver00(first);
    app->SetMyDriver01(last);
    app->RegisterForDeviceNotif();
}

std::vector<UdevDevice> FindDevices() {
    std::string error;
    std::vector<UdevDevice> nodes = CurrentHidrawLister()(error);
    if (!error.empty()) {
        PrintErrMsg(1, "No matching HID class devices found.");
        LogLine("%s", error.c_str());
    }
    return nodes;
}

std::string FindMyDriver(const std::string& previous, bool first) {
    const std::vector<UdevDevice> nodes = FindDevices();
    const size_t n = nodes.size();
    std::string match;
    size_t i = 0;
    while (i < n) {
        size_t next = i + 1;  // the look-ahead
        if (first && !match.empty()) break;
        if (!first && nodes[i].syspath == previous) {
            if (next < n) {
                i = next;  // pass the previous handle over
                next = i + 1;
            } else if (!match.empty()) {
                break;
            }
        }
        if (nodes[i].vendorId == kQz5UsbVendorId && nodes[i].productId == kQz5UsbProductId)
            match = nodes[i].syspath;
        i = next;
    }
    return match;
}

void DriverNotifProc(void*, const std::string&, uint32_t messageType, const uint8_t* argument) {
    if (messageType != 4 && messageType != 8) return;
    uint8_t data[8];
    std::copy(argument, argument + 8, data);
    if (data[0] == 0 && data[2] == 0) return;  // carries no event
    LogLine("DeviceNotification data: %x %x %x %x %x %x %x %x", data[0], data[1], data[2], data[3], data[4],
            data[5], data[6], data[7]);
    Application::GetApp()->GetPrefs()->DealwithMessage(static_cast<int>(messageType), data);
}
