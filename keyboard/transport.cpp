// The control-request transport: every request looks the keyboards up afresh,
// opens each, transfers, closes it. No handle outlives one request.
#include <time.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <vector>

#include "config/build_config.hpp"
#include "keyboard/preferences.hpp"
#include "platform/log.hpp"

namespace {

UsbBus* g_bus = nullptr;
std::function<void(unsigned)> g_pause;
std::FILE* g_diagnostics = stdout;


void Diagnostic(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Diagnostic(const char* fmt, ...) {
    if (!g_diagnostics) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(g_diagnostics, fmt, ap);
    va_end(ap);
    std::fflush(g_diagnostics);
}

void Sleep(unsigned usec) {
    timespec left{static_cast<time_t>(usec / 1000000), static_cast<long>(usec % 1000000) * 1000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// A status-read request into a zero-filled 512-byte buffer.
void ReadStatus(Preferences& prefs, uint8_t bRequest, uint16_t length, uint8_t (&buffer)[512]) {
    std::memset(buffer, 0, sizeof buffer);
    IOUSBDevRequest request{0xC0, bRequest, 0, 0, length, buffer, 0};
    prefs.SendDeviceRequest(&request);
}

}  // namespace

void SetUsbBus(UsbBus* bus) { g_bus = bus; }
UsbBus& CurrentUsbBus() { return g_bus ? *g_bus : LibusbBus(); }
void SetPause(std::function<void(unsigned)> pause) { g_pause = std::move(pause); }
void SetRequestDiagnostics(std::FILE* stream) { g_diagnostics = stream; }

void Pause(unsigned usec) {
    if (g_pause)
        g_pause(usec);
    else
        Sleep(usec);
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
    for (auto& device : devices) {
        if (int status = bus.Open(*device); status != 0) {
            Diagnostic("unable to open device: %08x\n", static_cast<unsigned>(status));
            device.reset();
            continue;
        }
        if (int status = bus.ControlTransfer(*device, *request); status != 0)
            Diagnostic("unable to download to device: %08x\n", static_cast<unsigned>(status));
        bus.Close(*device);
        device.reset();
    }
    return 0;
}

int Preferences::GetDevLightLevel() {
    uint8_t buffer[512];
    ReadStatus(*this, 0x04, 8, buffer);
    return buffer[1];
}

int Preferences::GetDevProfile() {
    uint8_t buffer[512];
    ReadStatus(*this, 0x15, 1, buffer);
    return buffer[0];
}

void Preferences::SendCommand(uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                              const uint8_t* payload, int length) {
    if (length < 0 || length > kStagingSize) {
        LogLine("request %02x: payload of %d bytes refused", bRequest, length);
        return;
    }
    uint8_t staging[kStagingSize] = {};
    if (length > 0) std::memcpy(staging, payload, static_cast<size_t>(length));
    IOUSBDevRequest request{0x40, bRequest, wValue, wIndex, static_cast<uint16_t>(length), staging, 0};
    SendDeviceRequest(&request);
    Pause(kCommandPauseUs);
}
