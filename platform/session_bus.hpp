// The session bus connection that asks the user's service manager: our own,
// made again when it has closed, never ending the process when it does (the
// daemon's notification connection decides that). Only for platform/.
#pragma once

#include <gio/gio.h>

GDBusConnection* SessionManagerBus();
