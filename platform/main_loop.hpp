// The daemon's one main loop (GLib's default main context). Every event
// source of the daemon is attached to it, so callbacks never overlap.
#pragma once

#include <functional>

// Runs the loop until QuitMainLoop; returns the status given to it. May be
// called again after it returned.
int RunMainLoop();
// Makes the running loop (or the next one to run) return status.
void QuitMainLoop(int status);
// Calls tick every intervalMs on the loop for as long as it returns true.
void AddMainLoopTimeout(unsigned intervalMs, std::function<bool()> tick);
// SIGTERM and SIGINT quit the loop with status 0; SIGPIPE is ignored.
void InstallQuitSignals();
