// The user's desktop session as programs started for it need to see it: the
// environment that the session's own programs get (the user's service manager
// holds it: desktops fill it with WAYLAND_DISPLAY, DISPLAY, XAUTHORITY and the
// XDG variables), completed from logind and from our own environment. Looked
// up again for on-screen display codes and launch keys, so that a desktop
// that comes up after the daemon is found; never waited for on the main loop.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/session.hpp"

using EnvironmentMap = std::map<std::string, std::string>;

struct SessionEnvironment {
    // What a program started in the session gets on top of a plain
    // environment; every display variable that could be found.
    EnvironmentMap vars;
    // The user's service manager answered (its environment is in vars).
    bool managerAnswered = false;

    std::string Get(const std::string& name) const;
    // One line naming the display in use, e.g.
    // "WAYLAND_DISPLAY=wayland-1 DISPLAY=:0 (session type wayland)"; "none"
    // when there is neither.
    std::string DisplaySummary() const;
};

struct SessionSources {
    std::optional<ConsoleSession> logind;             // nullopt: logind not readable
    std::optional<std::vector<std::string>> manager;  // "NAME=VALUE" lines; nullopt: no manager
    EnvironmentMap own;                               // our own environment
    std::vector<std::string> runtimeSockets;          // socket names in the runtime folder
};

// The display variables, in the order they are looked for.
inline constexpr const char* kSessionDisplayVariables[] = {
    "WAYLAND_DISPLAY", "DISPLAY", "XAUTHORITY", "XDG_RUNTIME_DIR", "XDG_SESSION_TYPE",
    "XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DBUS_SESSION_BUS_ADDRESS"};

// The manager's environment wins (it is the session's, and the freshest);
// what it lacks of the display variables comes from our own environment,
// then from logind (Display, Type, the runtime folder); a Wayland session
// whose compositor's socket nobody named gets the first wayland-N socket of
// the runtime folder.
SessionEnvironment ResolveSessionEnvironment(const SessionSources& sources);

// "NAME=VALUE" lines to a map; lines without '=' or with an empty name are skipped.
EnvironmentMap ParseEnvironmentLines(const std::vector<std::string>& lines);

// Reads every source without waiting: done runs on the main loop once
// logind and the user's service manager have answered or failed to
// (possibly before this returns). Asked for while a lookup is under way,
// done joins it: one lookup at a time, the dones run in the order asked.
// Logs the display in use when it differs from the one logged before
// ("session display: ...").
using SessionEnvironmentReady = std::function<void(const SessionEnvironment&)>;
void LookUpSessionEnvironment(SessionEnvironmentReady done);

// The sources behind it, read without waiting (session_environment_dbus.cpp).
void ReadSessionSourcesAsync(std::function<void(SessionSources)> done);
