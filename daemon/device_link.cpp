// The keyboard arriving and leaving, its driver nodes and their messages.
#include <algorithm>
#include <memory>
#include <vector>

#include "config/build_config.hpp"
#include "daemon/application.hpp"
#include "platform/log.hpp"
#include "protocol/vocabulary.hpp"

namespace {

// One arrival's probe: each device opened and closed once, in turn; while
// another client holds one, a one-second wait on the queue (five attempts in
// all, shared by the devices of the arrival).
struct Probe {
    std::vector<UdevDevice> devices;
    size_t next = 0;                    // the device being probed
    std::unique_ptr<UsbDevice> device;  // its handle, kept across a wait
    int status = 0;
    int retries = 0;
    bool waited = false;
    bool found = false;
};

RequestQueue::Wait ProbeStep(Probe& p) {
    UsbBus& bus = CurrentUsbBus();
    for (; p.next < p.devices.size(); p.device.reset(), ++p.next) {
        if (!p.waited) {
            const UdevDevice& added = p.devices[p.next];
            p.device = bus.Find(kQz5UsbVendorId, kQz5UsbProductId, added.busnum, added.devnum);
            if (!p.device) {
                PrintErrMsg(kUsbNotFound, "unable to create a plugin\n");
                continue;
            }
            p.status = bus.Open(*p.device);
        } else if (p.retries <= 4) {
            p.status = bus.Open(*p.device);
        }
        const bool gaveUp = p.waited && p.retries > 4;
        p.waited = false;
        if (IsExclusiveAccess(p.status) && !gaveUp) {
            ++p.retries;
            PrintErrMsg(p.retries, "Exclusive access err, sleeping on it\n");
            p.waited = true;
            return {1000000, true};
        }
        if (p.status != 0) {
            PrintErrMsg(p.status, "unable to open device\n");
            continue;
        }
        bus.Close(*p.device);
        p.found = true;
        PrintErrMsg(1, "DeviceAddedNotifProc\n");
    }
    Application* app = Application::GetApp();
    if (!p.found || !app->IsLoggedIn()) return {};
    app->SetMyDriver00(FindMyDriver(app->GetMyDriver00(), true));
    app->SetMyDriver01(FindMyDriver(app->GetMyDriver01(), false));
    app->SetIsOnDev(true);
    app->RegisterForDeviceNotif();
    PostStautToAp();  // its reads run next, before the work queued behind the probe
    return {};
}

}  // namespace

void DeviceAddedNotifProc(const std::vector<UdevDevice>& devices) {
    auto probe = std::make_shared<Probe>();
    probe->devices = devices;
    KeyboardQueue().Add([probe] { return ProbeStep(*probe); });
}

void DeviceRemovedNotifProc(const std::vector<UdevDevice>& devices) {
    for (size_t i = 0; i < devices.size(); ++i) {
        Application::GetApp()->SetIsOnDev(false);
        PrintErrMsg(1, "DeviceRemovedNotifProc\n");
    }
    // The settings application hears of an arrival by the status posted
    // then; it hears of a departure the same way.
    if (!devices.empty()) PostStautToAp();
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
    if (messageType != qz5::kReportKeys && messageType != qz5::kReportState) return;
    uint8_t data[qz5::kReportBytes];
    std::copy(argument, argument + qz5::kReportBytes, data);
    if (data[0] == 0 && data[2] == 0) return;  // carries no event
    LogLine("DeviceNotification data: %x %x %x %x %x %x %x %x", data[0], data[1], data[2], data[3], data[4],
            data[5], data[6], data[7]);
    Application::GetApp()->GetPrefs()->DealwithMessage(static_cast<int>(messageType), data);
}
