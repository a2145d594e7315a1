// Test doubles of the platform services: they remember what the code under
// test asked of them. Linked only into tests.
#pragma once

#include <string>
#include <vector>

#include "platform/launch.hpp"
#include "platform/notifications.hpp"
#include "platform/osd.hpp"

// Test double: records posts and hands notifications to the observers that
// match, as the bus would.
class RecordingNotificationCenter : public NotificationCenter {
public:
    struct Posted {
        std::string name, object;
        PostInfo info;
    };
    bool AddObserver(void* observer, NotificationCallback callback, const std::string& name,
                     const std::string& object) override;
    void Post(const std::string& name, const std::string& object, const PostInfo& info) override;
    // Delivers a notification to the matching observers; returns how many.
    int Deliver(const std::string& name, const std::string& object, const UserInfo& info);

    std::vector<Posted> posted;

private:
    struct Observer {
        void* observer;
        NotificationCallback callback;
        std::string name, object;
    };
    std::vector<Observer> observers_;
};

// Test double: remembers the codes it was given.
class RecordingOsdDisplay : public OsdDisplay {
public:
    void Show(int code) override { codes.push_back(code); }
    std::vector<int> codes;
};

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
