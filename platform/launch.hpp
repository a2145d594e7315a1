// Opening what a launch key is assigned to.
#pragma once

#include <string>
#include <vector>

class Launcher {
public:
    virtual ~Launcher() = default;
    // Whether something exists at path (a file, folder or link to one).
    virtual bool Exists(const std::string& path) = 0;
    // Opens path: a ".desktop" file launches its application, an executable
    // file is started directly (detached, in its own folder), anything else
    // opens with its default application. Failures are logged.
    virtual void Open(const std::string& path) = 0;
};

// The launcher OpenLaunchPro uses; nullptr restores the GIO launcher.
void SetLauncher(Launcher* launcher);
Launcher& CurrentLauncher();

// Test double: everything exists that is in existing; opened paths are kept.
class RecordingLauncher : public Launcher {
public:
    bool Exists(const std::string& path) override {
        for (const auto& p : existing)
            if (p == path) return true;
        return false;
    }
    void Open(const std::string& path) override { opened.push_back(path); }
    std::vector<std::string> existing;
    std::vector<std::string> opened;
};
