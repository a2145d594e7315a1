// Device lookups through libudev.
#pragma once

#include <string>

// The syspath of the first device of the "input" subsystem: the system's
// input stack is there. "" when there is none; error is set when the lookup
// itself failed.
std::string FirstInputDevice(std::string& error);
