// The settings application's side of the protocol, for qz5ctl and
// qz5-settings alike: changes posted with an id and followed to the daemon's
// completion notice, the status question and its reply, the state the
// keyboard changes on its own, and whether a daemon serves the bus. All of it
// runs on the main loop; nothing here waits.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/notifications.hpp"
#include "platform/result.hpp"

// How a posted change went.
struct ChangeOutcome {
    enum Kind { Done, NoKeyboard, RequestsFailed, DaemonEnded, NoAnswer };
    Kind kind = Done;
    std::string message;  // why it did not go through, for a person; empty when Done
    int requests = 0;     // requests the daemon sent for it
    int milliseconds = 0;
};

// What a completion notice says. The on-screen display needs no keyboard.
ChangeOutcome OutcomeOfNotice(const UserInfo& notice, bool needsKeyboard);

// The keyboard as the daemon sees it. profile 0-2.
struct DeviceStatus {
    bool present = false;
    int profile = 0;
    int lightLevel = 0;
};

// The notice of a change the keyboard made on its own.
struct Relay {
    enum What { Profile, GameMode, Light };
    What what;
    int value;  // profile 0-2, game mode 1/0, light mode 0-4
};

// A change in the words of qz5ctl's change commands ({"apply", "2", "--save"},
// {"lighting"}, {"game", "on"}, {"select", "1"}, {"save"}, {"osd", "0xf2"}):
// the userInfo to post, or what is wrong with the words (in qz5ctl's terms).
Result<PostInfo> ChangeOfWords(const std::vector<std::string>& words);

class DaemonClient {
public:
    // Connects to the session bus; nullptr with error set when it cannot.
    static std::unique_ptr<DaemonClient> Connect(std::string& error);
    ~DaemonClient();

    bool DaemonRunning();
    // Posts a change and forgets it.
    void Post(const PostInfo& change);
    // Posts a change and calls done once with how it went: when the daemon's
    // notice arrives, when the daemon ends first, or after timeoutMs.
    void PostAndFollow(PostInfo change, std::function<void(const ChangeOutcome&)> done, bool needsKeyboard,
                       unsigned timeoutMs);
    // Asks for the keyboard's status; every reply goes to OnStatus's callback.
    void AskStatus();
    void OnStatus(std::function<void(const DeviceStatus&)> status);
    void OnRelay(std::function<void(const Relay&)> relay);
    // running: each time a daemon takes or leaves the bus.
    void OnDaemon(std::function<void(bool running)> running);
    // Once, when the bus connection is lost.
    void OnLost(void (*lost)(const char* why));

    struct State;

private:
    DaemonClient() = default;
    std::unique_ptr<SessionBusCenter> center_;
    std::shared_ptr<State> state_;
};
