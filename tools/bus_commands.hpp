// qz5ctl's side of the settings-application protocol: the commands that talk
// to a running qz5d over the session bus.
#pragma once

#include <string>
#include <vector>

// Whether args[0] names one of these commands.
bool IsBusCommand(const std::string& command);
// Runs it; returns the exit status (2 for a usage error, with nothing posted).
int RunBusCommand(const std::vector<std::string>& args);

extern const char* const kBusCommandsUsage;
