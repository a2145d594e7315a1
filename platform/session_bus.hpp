// Private bus connections for platform/'s own questions (logind on the
// system bus, the user's service manager on the session bus): one per bus,
// made again when it has closed, never ending the process when it does (the
// daemon's notification connection decides that).
#pragma once

#include <gio/gio.h>

// G_BUS_TYPE_SYSTEM or G_BUS_TYPE_SESSION; nullptr when the bus cannot be reached.
GDBusConnection* PrivateBusConnection(GBusType type);
inline GDBusConnection* SessionManagerBus() { return PrivateBusConnection(G_BUS_TYPE_SESSION); }
