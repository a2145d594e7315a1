// The emulated keyboards of qz5-emulator: a umockdev testbed holding, per
// keyboard, a USB device that answers the vendor control requests and two
// hidraw nodes that deliver event reports, plus one input device.
//
// The process must run with the umockdev preload library: the testbed's own
// sysfs work and its uevents go through it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/result.hpp"

typedef struct _UMockdevTestbed UMockdevTestbed;

struct EmulatedKeyboardsOptions {
    std::string logFile;    // every request the keyboards receive (emptied first); empty: none
    uint8_t profile = 1;    // answer to request 0x15 until 0x14 changes it
    uint8_t light = 0;      // byte 1 of the answer to request 0x04
    int keyboards = 1;
    bool unplugged = false;  // start with the keyboards unplugged
};

class EmulatedKeyboards {
public:
    struct Keyboard;
    struct UsbNode;
    struct HidrawNode;

    EmulatedKeyboards();
    ~EmulatedKeyboards();
    EmulatedKeyboards(const EmulatedKeyboards&) = delete;
    EmulatedKeyboards& operator=(const EmulatedKeyboards&) = delete;

    // Builds the testbed; on failure returns false with a reason in `error`.
    Result<> Start(const EmulatedKeyboardsOptions& options);

    // Runs one control command ("report ...", "report2 ...", "unplug",
    // "plug", "stall XX|off"); returns an empty string on success, else the reason.
    Result<> Execute(const std::string& line);

    // Removes every device without uevents and deletes the testbed.
    void Stop();

    const std::string& RootDir() const { return rootDir_; }

    // Called from the testbed's worker thread.
    void LogRequest(const uint8_t setup[8], const uint8_t* data);
    uint8_t Light() const { return options_.light; }
    // Whether host-to-device requests with this code stall (called with Lock() held).
    bool Stalls(uint8_t request) const { return stalled_ == request; }
    std::mutex& Lock() { return mutex_; }

private:
    Result<> Plug(Keyboard& kb);
    void Unplug(Keyboard& kb, bool sendEvents);
    std::string AddDevice(const char* subsystem, const std::string& name, const std::string& parent,
                          const std::vector<std::string>& attributes,
                          const std::vector<std::string>& properties);
    void HideFromEnumeration(const std::string& sysPath);
    Result<> Report(size_t node, const std::vector<std::string>& words);

    EmulatedKeyboardsOptions options_;
    UMockdevTestbed* testbed_ = nullptr;
    std::string rootDir_;
    int logFd_ = -1;
    std::mutex mutex_;  // guards the node state shared with the worker thread
    std::vector<std::unique_ptr<Keyboard>> keyboards_;
    // Node states live until Stop(): a client may still hold an old node open.
    std::vector<std::unique_ptr<UsbNode>> usbNodes_;
    std::vector<std::unique_ptr<HidrawNode>> hidrawNodes_;
    std::vector<std::string> attachedNodes_;
    int stalled_ = -1;  // the request code that stalls, -1 none
    int nextDevnum_ = 2;
    int nextHidraw_ = 0;
    int nextHid_ = 1;
};
