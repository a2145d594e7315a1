// The control-request transport: every request looks the keyboards up afresh,
// opens each, transfers, closes it. No handle outlives one request. Requests
// and the pauses between them are steps of the keyboard's queue.
#include <cstdarg>
#include <cstring>
#include <memory>
#include <vector>

#include "config/build_config.hpp"
#include "keyboard/preferences.hpp"
#include "platform/log.hpp"
#include "protocol/vocabulary.hpp"

namespace {

UsbBus* g_bus = nullptr;
std::FILE* g_diagnostics = stdout;
std::unique_ptr<SteppingScheduler> g_ownScheduler;
std::unique_ptr<RequestQueue> g_queue;
RequestTally g_tally;
// Whether the last request found a keyboard to open: the pauses that follow
// one that did not pace nothing and are skipped.
bool g_lastReached = true;


void Diagnostic(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Diagnostic(const char* fmt, ...) {
    if (!g_diagnostics) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(g_diagnostics, fmt, ap);
    va_end(ap);
    std::fflush(g_diagnostics);
}

// A status-read request into a zero-filled 512-byte buffer.
void ReadStatus(Preferences& prefs, uint8_t bRequest, uint16_t length, uint8_t (&buffer)[512]) {
    std::memset(buffer, 0, sizeof buffer);
    IOUSBDevRequest request{qz5::kRequestIn, bRequest, 0, 0, length, buffer, 0};
    prefs.SendDeviceRequest(&request);
}

}  // namespace

void SetUsbBus(UsbBus* bus) { g_bus = bus; }
UsbBus& CurrentUsbBus() { return g_bus ? *g_bus : LibusbBus(); }
void SetRequestDiagnostics(std::FILE* stream) { g_diagnostics = stream; }

void SetKeyboardScheduler(Scheduler* scheduler) {
    g_queue.reset();
    g_lastReached = true;
    if (!scheduler) {
        g_ownScheduler = std::make_unique<SteppingScheduler>();
        scheduler = g_ownScheduler.get();
    }
    g_queue = std::make_unique<RequestQueue>(*scheduler);
}

RequestQueue& KeyboardQueue() {
    if (!g_queue) SetKeyboardScheduler(nullptr);
    return *g_queue;
}

const RequestTally& KeyboardTally() { return g_tally; }

RequestTally operator-(const RequestTally& a, const RequestTally& b) {
    return {a.requests - b.requests, a.failed - b.failed, a.missed - b.missed};
}

void Pause(unsigned usec) {
    KeyboardQueue().Add([usec] { return RequestQueue::Wait{g_lastReached ? usec : 0}; });
}

bool CheckProfile(int profile, const char* what) {
    if (profile >= 0 && profile < kProfileCount) return true;
    LogLine("%s: no profile %d, nothing sent", what, profile);
    return false;
}

int Preferences::SendDeviceRequest(IOUSBDevRequest* request) {
    request->wLenDone = 0;
    Diagnostic("Looking for devices matching vendor ID=%ld and product ID=%ld\n",
               static_cast<long>(kQz5UsbVendorId), static_cast<long>(kQz5UsbProductId));
    UsbBus& bus = CurrentUsbBus();
    std::vector<std::unique_ptr<UsbDevice>> devices;
    if (bus.Enumerate(kQz5UsbVendorId, kQz5UsbProductId, devices) != 0) devices.clear();
    // For the tally: a keyboard unplugged since the lookup counts as none.
    bool opened = false;
    size_t gone = 0, failures = 0;
    for (auto& device : devices) {
        if (int status = bus.Open(*device); status != 0) {
            Diagnostic("unable to open device: %08x\n", static_cast<unsigned>(status));
            (IsDeviceGone(status) ? gone : failures) += 1;
            device.reset();
            continue;
        }
        opened = true;
        if (int status = bus.ControlTransfer(*device, *request); status != 0) {
            Diagnostic("unable to download to device: %08x\n", static_cast<unsigned>(status));
            (IsDeviceGone(status) ? gone : failures) += 1;
        }
        bus.Close(*device);
        device.reset();
    }
    ++g_tally.requests;
    if (gone == devices.size())
        ++g_tally.missed;
    else if (failures > 0)
        ++g_tally.failed;
    g_lastReached = opened;
    return 0;
}

int Preferences::GetDevLightLevel() {
    uint8_t buffer[512];
    ReadStatus(*this, qz5::kReqLightStatus, qz5::kLightStatusBytes, buffer);
    return buffer[1];
}

int Preferences::GetDevProfile() {
    uint8_t buffer[512];
    ReadStatus(*this, qz5::kReqCurrentProfile, 1, buffer);
    return buffer[0];
}

void Preferences::SendCommand(uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                              const uint8_t* payload, int length) {
    if (length < 0 || length > kStagingSize) {
        LogLine("request %02x: payload of %d bytes refused", bRequest, length);
        return;
    }
    // The payload is copied now: the tables are built from the record as it
    // is when the change arrives, whenever the request goes out.
    auto data = std::make_shared<const std::vector<uint8_t>>(payload, payload + length);
    KeyboardQueue().Add([this, bRequest, wValue, wIndex, data] {
        uint8_t staging[kStagingSize] = {};
        if (!data->empty()) std::memcpy(staging, data->data(), data->size());
        IOUSBDevRequest request{qz5::kRequestOut, bRequest, wValue, wIndex,
                                static_cast<uint16_t>(data->size()), staging, 0};
        SendDeviceRequest(&request);
        return RequestQueue::Wait{g_lastReached ? kCommandPauseUs : 0};
    });
}
