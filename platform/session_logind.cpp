// logind over the system bus: Manager.GetSeat("seat0"), the seat's
// ActiveSession, then that session's properties. Only object paths that
// logind returns are used.
#include <gio/gio.h>

#include <string>

#include "platform/session.hpp"

namespace {

constexpr const char* kLogin1 = "org.freedesktop.login1";

SessionReader g_reader = nullptr;

// One connection, made again when it has closed (the system bus restarted).
GDBusConnection* SystemBus() {
    static GDBusConnection* bus = nullptr;
    if (bus && g_dbus_connection_is_closed(bus)) g_clear_object(&bus);
    if (!bus) {
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
        if (!address) return nullptr;
        bus = g_dbus_connection_new_for_address_sync(
            address,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        g_free(address);
    }
    return bus;
}

GVariant* Call(GDBusConnection* bus, const char* path, const char* iface, const char* method,
               GVariant* args, const char* replyType) {
    return g_dbus_connection_call_sync(bus, kLogin1, path, iface, method, args,
                                       G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, 2000,
                                       nullptr, nullptr);
}

// One property, unwrapped; nullptr when it cannot be read or has another type.
GVariant* Property(GDBusConnection* bus, const char* path, const char* iface, const char* name,
                   const char* type) {
    GVariant* reply = Call(bus, path, "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", iface, name), "(v)");
    if (!reply) return nullptr;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    g_variant_unref(reply);
    if (!g_variant_is_of_type(value, G_VARIANT_TYPE(type))) {
        g_variant_unref(value);
        return nullptr;
    }
    return value;
}

}  // namespace

bool ReadConsoleSession(ConsoleSession& session) {
    session = ConsoleSession{};
    GDBusConnection* bus = SystemBus();
    if (!bus) return false;
    GVariant* seat = Call(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "GetSeat",
                          g_variant_new("(s)", "seat0"), "(o)");
    if (!seat) return false;
    const gchar* seatPath = nullptr;
    g_variant_get(seat, "(&o)", &seatPath);
    GVariant* active = Property(bus, seatPath, "org.freedesktop.login1.Seat", "ActiveSession", "(so)");
    g_variant_unref(seat);
    if (!active) return false;
    const gchar* sessionId = nullptr;
    const gchar* sessionPath = nullptr;
    g_variant_get(active, "(&s&o)", &sessionId, &sessionPath);
    const std::string path = sessionPath;
    const bool none = sessionId[0] == '\0' || path == "/";
    g_variant_unref(active);
    if (none) return true;  // a seat without a session: nobody is logged in

    const char* iface = "org.freedesktop.login1.Session";
    bool isUser = false, isActive = false, remote = true, stateActive = false;
    if (GVariant* v = Property(bus, path.c_str(), iface, "Class", "s")) {
        isUser = std::string(g_variant_get_string(v, nullptr)) == "user";
        g_variant_unref(v);
    }
    if (GVariant* v = Property(bus, path.c_str(), iface, "Active", "b")) {
        isActive = g_variant_get_boolean(v);
        g_variant_unref(v);
    }
    if (GVariant* v = Property(bus, path.c_str(), iface, "Remote", "b")) {
        remote = g_variant_get_boolean(v);
        g_variant_unref(v);
    }
    if (GVariant* v = Property(bus, path.c_str(), iface, "State", "s")) {
        stateActive = std::string(g_variant_get_string(v, nullptr)) == "active";
        g_variant_unref(v);
    }
    if (GVariant* v = Property(bus, path.c_str(), iface, "Name", "s")) {
        session.userName = g_variant_get_string(v, nullptr);
        g_variant_unref(v);
    }
    bool haveUser = false;
    std::string userPath;
    if (GVariant* v = Property(bus, path.c_str(), iface, "User", "(uo)")) {
        guint32 uid = 0;
        const gchar* object = nullptr;
        g_variant_get(v, "(u&o)", &uid, &object);
        session.uid = uid;
        userPath = object;
        haveUser = true;
        g_variant_unref(v);
    }
    if (GVariant* v = Property(bus, path.c_str(), iface, "Type", "s")) {
        session.type = g_variant_get_string(v, nullptr);
        g_variant_unref(v);
    }
    if (!userPath.empty() && userPath != "/")
        if (GVariant* v = Property(bus, userPath.c_str(), "org.freedesktop.login1.User", "RuntimePath", "s")) {
            session.runtimeDir = g_variant_get_string(v, nullptr);
            g_variant_unref(v);
        }
    if (GVariant* v = Property(bus, path.c_str(), iface, "Display", "s")) {
        session.display = g_variant_get_string(v, nullptr);
        g_variant_unref(v);
    }
    session.loginDone = isUser && haveUser;
    session.onConsole = isActive && !remote && stateActive;
    return true;
}

void SetSessionReader(SessionReader reader) { g_reader = reader; }
SessionReader CurrentSessionReader() { return g_reader ? g_reader : &ReadConsoleSession; }
