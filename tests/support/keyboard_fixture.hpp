// A Preferences object wired to a recording USB bus and a recording
// scheduler, with an all-zero record. events holds request lines and
// "pause N" in order. The scheduler runs each wait at once (the queue then
// empties inside the call that fills it) unless a test holds it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "keyboard/preferences.hpp"
#include "testing/log_capture.hpp"
#include "testing/recording_doubles.hpp"
#include "testing/usb_double.hpp"
#include "tests/support/temp_dir.hpp"

// Records each wait of the keyboard's queue into events; while not held, runs
// it at once on its clock.
class RecordingScheduler : public SteppingScheduler {
public:
    explicit RecordingScheduler(std::vector<std::string>& events) : events_(events) {}
    void Arm(unsigned usec, std::function<void()> fn) override {
        events_.push_back("pause " + std::to_string(usec));
        SteppingScheduler::Arm(usec, std::move(fn));
        if (!held) RunNext();
    }
    bool held = false;

private:
    std::vector<std::string>& events_;
};

class KeyboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("QZ5_SETTINGS_FILE", dir.File("absent.xml").c_str(), 1);
        prefs = std::make_unique<Preferences>();
        std::memset(&m_Config, 0, sizeof m_Config);
        SetUsbBus(&bus);
        SetKeyboardScheduler(&scheduler);
        bus.onRequest = [this](const RecordedRequest& r) { events.push_back(r.Line()); };
        diag = open_memstream(&diagText, &diagSize);
        SetRequestDiagnostics(diag);
    }
    void TearDown() override {
        SetUsbBus(nullptr);
        SetKeyboardScheduler(nullptr);
        SetRequestDiagnostics(stdout);
        std::fclose(diag);
        std::free(diagText);
        unsetenv("QZ5_SETTINGS_FILE");
    }
    std::string Diagnostics() {
        std::fflush(diag);
        return std::string(diagText, diagSize);
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const auto& r : bus.requests) lines.push_back(r.Line());
        return lines;
    }
    // Key index 0-11: T-keys; 12-19: mapping keys.
    _TKEY_INFO& Key(int p, int k) {
        auto& prof = m_Config.PROFILE[p];
        return k < kTKeyCount ? prof.TKEYINFO[k] : prof.MAPPINGKEYINFO[k - kTKeyCount];
    }

    TempDir dir;
    ScopedLogCapture log;
    RecordingUsbBus bus;
    std::unique_ptr<Preferences> prefs;
    std::vector<std::string> events;
    RecordingScheduler scheduler{events};
    std::FILE* diag = nullptr;
    char* diagText = nullptr;
    size_t diagSize = 0;
};

inline std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    for (uint8_t v : bytes) s += {"0123456789abcdef"[v >> 4], "0123456789abcdef"[v & 15]};
    return s;
}
