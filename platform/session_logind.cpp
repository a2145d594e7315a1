// logind over the system bus: Manager.GetSeat("seat0"), the seat's
// ActiveSession, then that session's properties. Only object paths that
// logind returns are used.
#include <gio/gio.h>

#include <string>

#include "platform/session.hpp"
#include "platform/session_bus.hpp"

namespace {

constexpr const char* kLogin1 = "org.freedesktop.login1";

SessionReader g_reader = nullptr;


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
    GDBusConnection* bus = PrivateBusConnection(G_BUS_TYPE_SYSTEM);
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

    // All of the session's properties in one call.
    GVariant* all = Call(bus, path.c_str(), "org.freedesktop.DBus.Properties", "GetAll",
                         g_variant_new("(s)", "org.freedesktop.login1.Session"), "(a{sv})");
    if (!all) return false;
    GVariant* props = g_variant_get_child_value(all, 0);
    g_variant_unref(all);
    auto text = [props](const char* name) {
        const gchar* value = nullptr;
        return g_variant_lookup(props, name, "&s", &value) ? std::string(value) : std::string();
    };
    auto flag = [props](const char* name, bool otherwise) {
        gboolean value = FALSE;
        return g_variant_lookup(props, name, "b", &value) ? bool(value) : otherwise;
    };
    const bool isUser = text("Class") == "user";
    const bool isActive = flag("Active", false);
    const bool remote = flag("Remote", true);
    const bool stateActive = text("State") == "active";
    session.userName = text("Name");
    session.display = text("Display");
    session.type = text("Type");
    bool haveUser = false;
    std::string userPath;
    guint32 uid = 0;
    const gchar* object = nullptr;
    if (g_variant_lookup(props, "User", "(u&o)", &uid, &object)) {
        session.uid = uid;
        userPath = object;
        haveUser = true;
    }
    g_variant_unref(props);
    if (!userPath.empty() && userPath != "/")
        if (GVariant* v = Property(bus, userPath.c_str(), "org.freedesktop.login1.User", "RuntimePath", "s")) {
            session.runtimeDir = g_variant_get_string(v, nullptr);
            g_variant_unref(v);
        }
    session.loginDone = isUser && haveUser;
    session.onConsole = isActive && !remote && stateActive;
    return true;
}

void SetSessionReader(SessionReader reader) { g_reader = reader; }
SessionReader CurrentSessionReader() { return g_reader ? g_reader : &ReadConsoleSession; }
