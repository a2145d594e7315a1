// Notifications between the daemon and the settings application: broadcast
// messages, each a name ("PellQZ5", "PellQZ5Check"), an object string that
// says what kind of message it is, and a dictionary of values (userInfo).
// Observers register for a (name, object) pair and receive only those.
//
// On the wire every notification is one D-Bus signal on the session bus:
//   org.qz5d.Notifications1.Notification(s name, s object, a{sv} userInfo)
// at /org/qz5d/Notifications1, broadcast.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

inline constexpr const char* kNotificationsInterface = "org.qz5d.Notifications1";
inline constexpr const char* kNotificationsPath = "/org/qz5d/Notifications1";
inline constexpr const char* kNotificationsMember = "Notification";
inline constexpr const char* kDaemonBusName = "org.qz5d.Daemon";

// A received value. Values of any other type arrive as monostate.
using UserInfoValue = std::variant<std::monostate, int64_t, uint64_t, double, bool, std::string>;
using UserInfo = std::map<std::string, UserInfoValue>;
// What is posted: int32 values, in this order.
using PostInfo = std::vector<std::pair<std::string, int32_t>>;

// The one reading of a received value as an int: integers (clamped to the
// int range), doubles (truncated toward zero, clamped; NaN reads 0),
// booleans (1/0), strings (their leading decimal integer after white space,
// else 0). An absent key or a value of any other type reads 0.
int ReadUserInfoInt(const UserInfo& info, const std::string& key);
// The same reading, not 0.
bool ReadUserInfoBool(const UserInfo& info, const std::string& key);
// The value as text, as a person reads it: numbers in decimal, booleans
// true/false, strings as they are, anything else "?".
std::string UserInfoValueText(const UserInfoValue& value);

class NotificationCenter;
using NotificationCallback = void (*)(NotificationCenter* center, void* observer,
                                      const std::string& name, const std::string& object,
                                      const UserInfo& userInfo);

class NotificationCenter {
public:
    virtual ~NotificationCenter() = default;
    // Registers callback for (name, object). Returns once the registration is
    // in force; false when it could not be made.
    virtual bool AddObserver(void* observer, NotificationCallback callback, const std::string& name,
                             const std::string& object) = 0;
    // Posts at once (delivered immediately, not queued).
    virtual void Post(const std::string& name, const std::string& object, const PostInfo& info) = 0;
};

// Where the daemon's own posts go; nullptr drops them.
void SetNotificationCenter(NotificationCenter* center);
NotificationCenter* CurrentNotificationCenter();

// The session-bus center.
class SessionBusCenter : public NotificationCenter {
public:
    // Connects to the session bus. nullptr with error set when it cannot.
    static std::unique_ptr<SessionBusCenter> Connect(std::string& error);
    ~SessionBusCenter() override;

    bool AddObserver(void* observer, NotificationCallback callback, const std::string& name,
                     const std::string& object) override;
    void Post(const std::string& name, const std::string& object, const PostInfo& info) override;

    // Claims the daemon's well-known name (no replacement, no queueing) and
    // exports the notifications object so that it can be introspected.
    // false with error set when the name is taken or the call fails.
    bool ClaimDaemonName(std::string& error);
    // Whether some connection owns the daemon's name.
    bool DaemonRunning();
    // Called once when the connection closes or the daemon's name is lost.
    void OnLost(void (*lost)(const char* why));
    // Calls gone once when no connection owns the daemon's name any more
    // (at once when none does now).
    void WatchDaemon(void (*gone)());
    // Calls changed each time the daemon's name gets an owner (true) or
    // loses it (false), from the next change on.
    void FollowDaemon(std::function<void(bool running)> changed);

    struct Impl;

private:
    void WatchOwner();
    explicit SessionBusCenter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

