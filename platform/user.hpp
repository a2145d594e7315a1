// Becoming the console user.
#pragma once

#include <sys/types.h>

#include <string>

// Running as root with uid not 0: initgroups with the user's name, setgid to
// the user's primary group, setuid; then checks that real, effective and
// saved ids and the group list are the user's and that root cannot be had
// back. false with error set when any step fails: the caller must not go on.
// uid 0 keeps root; not running as root keeps the current user (note says
// so when the console user is someone else). On success the environment's
// HOME, USER and LOGNAME name the user.
bool SwitchToUser(uid_t uid, std::string& error, std::string& note);
