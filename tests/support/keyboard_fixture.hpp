// A Preferences object wired to a recording USB bus and a recording pause,
// with an all-zero record. events holds request lines and "pause N" in order.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "keyboard/preferences.hpp"
#include "platform/log_capture.hpp"
#include "platform/usb_double.hpp"
#include "tests/support/temp_dir.hpp"

class KeyboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("QZ5_SETTINGS_FILE", dir.File("absent.xml").c_str(), 1);
        prefs = std::make_unique<Preferences>();
        std::memset(&m_Config, 0, sizeof m_Config);
        SetUsbBus(&bus);
        SetPause([this](unsigned us) { events.push_back("pause " + std::to_string(us)); });
        bus.onRequest = [this](const RecordedRequest& r) { events.push_back(r.Line()); };
        diag = open_memstream(&diagText, &diagSize);
        SetRequestDiagnostics(diag);
    }
    void TearDown() override {
        SetUsbBus(nullptr);
        SetPause({});
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
    _QZ5_PROFILE& Profile(int p) { return m_Config.PROFILE[p]; }
    // Key index 0-11: T-keys; 12-19: mapping keys.
    _TKEY_INFO& Key(int p, int k) {
        return k < kTKeyCount ? Profile(p).TKEYINFO[k] : Profile(p).MAPPINGKEYINFO[k - kTKeyCount];
    }
    // The encoding of key k of profile p, through GetMacroInfo.
    std::vector<uint8_t> Encode(int p, int k) {
        std::vector<uint8_t> out(prefs->GetMacroInfo(k, &Key(p, k), nullptr));
        prefs->GetMacroInfo(k, &Key(p, k), out.data());
        return out;
    }

    TempDir dir;
    ScopedLogCapture log;
    RecordingUsbBus bus;
    std::unique_ptr<Preferences> prefs;
    std::vector<std::string> events;
    std::FILE* diag = nullptr;
    char* diagText = nullptr;
    size_t diagSize = 0;
};

// "0a ff 1" style hex into bytes.
inline std::vector<uint8_t> Bytes(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < hex.size();) {
        if (hex[i] == ' ') { ++i; continue; }
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

inline std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char b[3];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, "%02x", v);
        s += b;
    }
    return s;
}
