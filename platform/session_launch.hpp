// Starting a program in the user's session: as a transient unit of the
// user's service manager when it answers (the program then runs outside the
// daemon's own service and sandbox, as the session's programs do), else as
// our own child with the session's environment. Never through a shell.
// Only for platform/.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/session_environment.hpp"

struct SessionCommand {
    std::string name;               // for the unit's name and the log
    std::vector<std::string> argv;  // argv[0]: a path, or a name looked up in the session's PATH
    std::string folder;             // working folder; "" for the default (the home folder)
    int stdinFd = -1;               // taken: the program's standard input (else /dev/null)
    bool shareStderr = false;       // in a unit too, the program writes to our standard error
                                    // (else to the user's journal)
};

// started: false when it could not be started either way (logged).
// directChild: our own child when started directly (the callee reaps it when
// the callback does not take a reference and wait), nullptr in a unit.
using SessionStarted = std::function<void(bool started, GSubprocess* directChild)>;

// Returns at once; done runs on the main loop, possibly before this returns.
void StartInSession(SessionCommand command, const SessionEnvironment& env, SessionStarted done);
