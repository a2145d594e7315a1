// The console session, from logind on the system bus: seat0's active session.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

struct ConsoleSession {
    bool loginDone = false;  // seat0 has an active session of class "user"
    bool onConsole = false;  // that session is Active, not Remote, State "active"
    std::string userName;
    uid_t uid = 0;
    std::string display;     // the session's X display, "" when none
    std::string type;        // "x11", "wayland", "tty", ... as logind has it
    std::string runtimeDir;  // the user's runtime folder (XDG_RUNTIME_DIR), "" when unknown
};

// Fills session; false when there is no session state to read (logind not
// reachable, no seat0). A seat without a session reads as not logged in.
using SessionReader = bool (*)(ConsoleSession& session);
bool ReadConsoleSession(ConsoleSession& session);

// The reader IsLoggedIn uses; nullptr restores logind.
void SetSessionReader(SessionReader reader);
SessionReader CurrentSessionReader();

// The same read without waiting: done runs on the main loop once logind has
// answered every question (nullopt where the reader returns false), possibly
// before this returns (a reader set with SetSessionReader answers at once).
using ConsoleSessionRead = std::function<void(std::optional<ConsoleSession>)>;
void ReadConsoleSessionAsync(ConsoleSessionRead done);
