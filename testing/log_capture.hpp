// Test double of the system log: collects the lines while it lives.
#pragma once

#include <string>
#include <vector>

#include "platform/log.hpp"

class ScopedLogCapture {
public:
    ScopedLogCapture() {
        SetLogSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~ScopedLogCapture() { SetLogSink({}); }
    ScopedLogCapture(const ScopedLogCapture&) = delete;
    ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

    bool Contains(const std::string& text) const {
        for (const auto& l : lines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }

    std::vector<std::string> lines;
};
