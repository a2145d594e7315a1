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

