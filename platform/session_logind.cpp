// logind over the system bus: Manager.GetSeat("seat0"), the seat's
// ActiveSession, then that session's properties and its user's runtime
// folder. Only object paths that logind returns are used. Read two ways: at
// once (the login wait) and without waiting (the session's environment, on
// the event path), from the same steps.
#include <gio/gio.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/session.hpp"
#include "platform/session_bus.hpp"

namespace {

constexpr const char* kLogin1 = "org.freedesktop.login1";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr int kTimeoutMs = 2000;

SessionReader g_reader = nullptr;

GVariant* Call(GDBusConnection* bus, const char* path, const char* iface, const char* method,
               GVariant* args, const char* replyType) {
    return g_dbus_connection_call_sync(bus, kLogin1, path, iface, method, args,
                                       G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, kTimeoutMs,
                                       nullptr, nullptr);
}

// A property's reply unwrapped (the reply is taken); nullptr when there is
// none or it has another type.
GVariant* Unwrap(GVariant* reply, const char* type) {
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

GVariant* Property(GDBusConnection* bus, const char* path, const char* iface, const char* name,
                   const char* type) {
    return Unwrap(Call(bus, path, kProperties, "Get", g_variant_new("(ss)", iface, name), "(v)"), type);
}

// The seat's ActiveSession: the session's object path, "" when the seat has none.
std::string ActiveSessionPath(GVariant* active) {
    const gchar* sessionId = nullptr;
    const gchar* sessionPath = nullptr;
    g_variant_get(active, "(&s&o)", &sessionId, &sessionPath);
    const bool none = sessionId[0] == '\0' || std::string_view(sessionPath) == "/";
    std::string path = none ? std::string() : std::string(sessionPath);
    g_variant_unref(active);
    return path;
}

// Fills session from the reply to the session's GetAll (taken); the user's
// object path, "" when there is none to ask for the runtime folder.
std::string ReadSessionProperties(GVariant* all, ConsoleSession& session) {
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
    session.loginDone = isUser && haveUser;
    session.onConsole = isActive && !remote && stateActive;
    return userPath == "/" ? std::string() : userPath;
}

void ReadRuntimePath(GVariant* value, ConsoleSession& session) {
    if (!value) return;
    session.runtimeDir = g_variant_get_string(value, nullptr);
    g_variant_unref(value);
}

// The read without waiting: one step per answer, each the next question.
struct AsyncRead {
    GDBusConnection* bus;
    ConsoleSessionRead done;
    ConsoleSession session;

    ~AsyncRead() { g_object_unref(bus); }

    void Ask(const char* path, const char* iface, const char* method, GVariant* args, const char* replyType,
             GAsyncReadyCallback next) {
        g_dbus_connection_call(bus, kLogin1, path, iface, method, args, G_VARIANT_TYPE(replyType),
                               G_DBUS_CALL_FLAGS_NONE, kTimeoutMs, nullptr, next, this);
    }
    void AskProperty(const char* path, const char* iface, const char* name, GAsyncReadyCallback next) {
        Ask(path, kProperties, "Get", g_variant_new("(ss)", iface, name), "(v)", next);
    }

    static GVariant* Answer(GObject* source, GAsyncResult* result) {
        return g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    }
    // Ends the read (and this object).
    static void Finish(AsyncRead* read, bool readable) {
        const std::unique_ptr<AsyncRead> owned(read);
        owned->done(readable ? std::optional<ConsoleSession>(owned->session) : std::nullopt);
    }

    static void OnSeat(GObject* source, GAsyncResult* result, gpointer data) {
        auto* read = static_cast<AsyncRead*>(data);
        GVariant* seat = Answer(source, result);
        if (!seat) return Finish(read, false);
        const gchar* seatPath = nullptr;
        g_variant_get(seat, "(&o)", &seatPath);
        read->AskProperty(seatPath, "org.freedesktop.login1.Seat", "ActiveSession", &OnActiveSession);
        g_variant_unref(seat);
    }

    static void OnActiveSession(GObject* source, GAsyncResult* result, gpointer data) {
        auto* read = static_cast<AsyncRead*>(data);
        GVariant* active = Unwrap(Answer(source, result), "(so)");
        if (!active) return Finish(read, false);
        const std::string path = ActiveSessionPath(active);
        if (path.empty()) return Finish(read, true);  // a seat without a session: nobody is logged in
        read->Ask(path.c_str(), kProperties, "GetAll", g_variant_new("(s)", "org.freedesktop.login1.Session"),
                  "(a{sv})", &OnSessionProperties);
    }

    static void OnSessionProperties(GObject* source, GAsyncResult* result, gpointer data) {
        auto* read = static_cast<AsyncRead*>(data);
        GVariant* all = Answer(source, result);
        if (!all) return Finish(read, false);
        const std::string userPath = ReadSessionProperties(all, read->session);
        if (userPath.empty()) return Finish(read, true);
        read->AskProperty(userPath.c_str(), "org.freedesktop.login1.User", "RuntimePath", &OnRuntimePath);
    }

    static void OnRuntimePath(GObject* source, GAsyncResult* result, gpointer data) {
        auto* read = static_cast<AsyncRead*>(data);
        ReadRuntimePath(Unwrap(Answer(source, result), "s"), read->session);
        Finish(read, true);
    }
};

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
    const std::string path = ActiveSessionPath(active);
    if (path.empty()) return true;  // a seat without a session: nobody is logged in

    // All of the session's properties in one call.
    GVariant* all = Call(bus, path.c_str(), kProperties, "GetAll",
                         g_variant_new("(s)", "org.freedesktop.login1.Session"), "(a{sv})");
    if (!all) return false;
    const std::string userPath = ReadSessionProperties(all, session);
    if (!userPath.empty())
        ReadRuntimePath(Property(bus, userPath.c_str(), "org.freedesktop.login1.User", "RuntimePath", "s"), session);
    return true;
}

void ReadConsoleSessionAsync(ConsoleSessionRead done) {
    if (g_reader) {
        ConsoleSession session;
        const bool readable = g_reader(session);
        done(readable ? std::optional<ConsoleSession>(session) : std::nullopt);
        return;
    }
    GDBusConnection* bus = PrivateBusConnection(G_BUS_TYPE_SYSTEM);
    if (!bus) return done(std::nullopt);
    auto* read = new AsyncRead{G_DBUS_CONNECTION(g_object_ref(bus)), std::move(done), {}};
    read->Ask("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "GetSeat", g_variant_new("(s)", "seat0"),
              "(o)", &AsyncRead::OnSeat);
}

void SetSessionReader(SessionReader reader) { g_reader = reader; }
SessionReader CurrentSessionReader() { return g_reader ? g_reader : &ReadConsoleSession; }
