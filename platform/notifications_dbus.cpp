// The notification center over the session bus (GDBus). Observers are match
// rules on arg0 (name) and arg1 (object), added and waited for before a
// registration counts, so the bus delivers only what was asked for; posts
// are flushed at once.
#include <gio/gio.h>

#include <string>
#include <vector>

#include "platform/log.hpp"
#include "platform/notifications.hpp"
#include "platform/notifications_introspection.hpp"

namespace {

// A string as a quoted match-rule value: ' cannot be escaped inside quotes,
// so it closes them, is escaped, and they open again.
std::string RuleValue(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

UserInfoValue FromVariant(GVariant* v) {
    switch (g_variant_classify(v)) {
        case G_VARIANT_CLASS_BYTE: return static_cast<int64_t>(g_variant_get_byte(v));
        case G_VARIANT_CLASS_INT16: return static_cast<int64_t>(g_variant_get_int16(v));
        case G_VARIANT_CLASS_UINT16: return static_cast<int64_t>(g_variant_get_uint16(v));
        case G_VARIANT_CLASS_INT32: return static_cast<int64_t>(g_variant_get_int32(v));
        case G_VARIANT_CLASS_UINT32: return static_cast<int64_t>(g_variant_get_uint32(v));
        case G_VARIANT_CLASS_INT64: return static_cast<int64_t>(g_variant_get_int64(v));
        case G_VARIANT_CLASS_UINT64: return static_cast<uint64_t>(g_variant_get_uint64(v));
        case G_VARIANT_CLASS_DOUBLE: return g_variant_get_double(v);
        case G_VARIANT_CLASS_BOOLEAN: return g_variant_get_boolean(v) != FALSE;
        case G_VARIANT_CLASS_STRING: return std::string(g_variant_get_string(v, nullptr));
        default: return std::monostate{};
    }
}

UserInfo ReadUserInfo(GVariant* dict) {
    UserInfo info;
    GVariantIter iter;
    g_variant_iter_init(&iter, dict);
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    while (g_variant_iter_next(&iter, "{&sv}", &key, &value)) {
        info.emplace(key, FromVariant(value));
        g_variant_unref(value);
    }
    return info;
}

}  // namespace

struct SessionBusCenter::Impl {
    struct Observer {
        void* observer;
        NotificationCallback callback;
        std::string name, object;
    };

    GDBusConnection* connection = nullptr;
    guint signalSubscription = 0;
    guint nameLostSubscription = 0;
    guint daemonWatch = 0;
    void (*daemonGone)() = nullptr;
    std::function<void(bool)> daemonFollower;
    guint objectRegistration = 0;
    gulong closedHandler = 0;
    std::vector<Observer> observers;
    SessionBusCenter* owner = nullptr;
    void (*lost)(const char*) = nullptr;
    bool lostReported = false;

    void ReportLost(const char* why) {
        if (lostReported || !lost) return;
        lostReported = true;
        lost(why);
    }

    // A method call on the bus itself; the reply, or nullptr with error set.
    GVariant* CallBus(const char* method, GVariant* args, const char* replyType, std::string& error) {
        GError* e = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            method, args, replyType ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NONE,
            5000, nullptr, &e);
        if (!reply) {
            error = e->message;
            g_error_free(e);
        }
        return reply;
    }

    static void OnSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* params, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(ssa{sv})"))) {
            LogLine("ignored a notification of type %s (expected (ssa{sv}))",
                    g_variant_get_type_string(params));
            return;
        }
        const gchar* name = nullptr;
        const gchar* object = nullptr;
        GVariant* dict = nullptr;
        g_variant_get(params, "(&s&s@a{sv})", &name, &object, &dict);
        const UserInfo info = ReadUserInfo(dict);
        g_variant_unref(dict);
        const std::string n(name), o(object);
        // A callback may add observers: walk a copy.
        const std::vector<Observer> observers = self->observers;
        for (const auto& ob : observers)
            if (ob.name == n && ob.object == o) ob.callback(self->owner, ob.observer, n, o, info);
    }

    static void OnClosed(GDBusConnection*, gboolean, GError* error, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        std::string why = "the session bus connection closed";
        if (error) why += std::string(": ") + error->message;
        self->ReportLost(why.c_str());
    }

    static void OnDaemonOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                     GVariant* params, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        const gchar* newOwner = "";
        if (g_variant_is_of_type(params, G_VARIANT_TYPE("(sss)")))
            g_variant_get(params, "(&s&s&s)", nullptr, nullptr, &newOwner);
        if (self->daemonFollower) self->daemonFollower(*newOwner != '\0');
        if (*newOwner == '\0' && self->daemonGone) {
            void (*gone)() = self->daemonGone;
            self->daemonGone = nullptr;
            gone();
        }
    }

    static void OnNameLost(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                           GVariant*, gpointer data) {
        static_cast<Impl*>(data)->ReportLost("lost the bus name org.qz5d.Daemon");
    }
};

SessionBusCenter::SessionBusCenter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {
    impl_->owner = this;
}

SessionBusCenter::~SessionBusCenter() {
    GDBusConnection* c = impl_->connection;
    if (impl_->signalSubscription) g_dbus_connection_signal_unsubscribe(c, impl_->signalSubscription);
    if (impl_->nameLostSubscription)
        g_dbus_connection_signal_unsubscribe(c, impl_->nameLostSubscription);
    if (impl_->daemonWatch) g_dbus_connection_signal_unsubscribe(c, impl_->daemonWatch);
    if (impl_->objectRegistration) g_dbus_connection_unregister_object(c, impl_->objectRegistration);
    if (impl_->closedHandler) g_signal_handler_disconnect(c, impl_->closedHandler);
    g_object_unref(c);
}

std::unique_ptr<SessionBusCenter> SessionBusCenter::Connect(std::string& error) {
    GError* e = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &e);
    GDBusConnection* connection = nullptr;
    if (address) {
        connection = g_dbus_connection_new_for_address_sync(
            address,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &e);
        g_free(address);
    }
    if (!connection) {
        error = std::string("cannot connect to the session bus: ") + e->message;
        g_error_free(e);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->connection = connection;
    Impl* raw = impl.get();
    raw->closedHandler = g_signal_connect(connection, "closed", G_CALLBACK(&Impl::OnClosed), raw);
    raw->signalSubscription = g_dbus_connection_signal_subscribe(
        connection, nullptr, kNotificationsInterface, kNotificationsMember, kNotificationsPath,
        nullptr, G_DBUS_SIGNAL_FLAGS_NO_MATCH_RULE, &Impl::OnSignal, raw, nullptr);
    return std::unique_ptr<SessionBusCenter>(new SessionBusCenter(std::move(impl)));
}

bool SessionBusCenter::AddObserver(void* observer, NotificationCallback callback,
                                   const std::string& name, const std::string& object) {
    const std::string rule = std::string("type='signal',interface='") + kNotificationsInterface +
                             "',member='" + kNotificationsMember + "',path='" + kNotificationsPath +
                             "',arg0=" + RuleValue(name) + ",arg1=" + RuleValue(object);
    std::string error;
    GVariant* reply = impl_->CallBus("AddMatch", g_variant_new("(s)", rule.c_str()), nullptr, error);
    if (!reply) {
        LogLine("cannot observe %s/%s: %s", name.c_str(), object.c_str(), error.c_str());
        return false;
    }
    g_variant_unref(reply);
    impl_->observers.push_back({observer, callback, name, object});
    return true;
}

void SessionBusCenter::Post(const std::string& name, const std::string& object,
                            const PostInfo& info) {
    GVariantBuilder dict;
    g_variant_builder_init(&dict, G_VARIANT_TYPE("a{sv}"));
    for (const auto& [key, value] : info)
        g_variant_builder_add(&dict, "{sv}", key.c_str(), g_variant_new_int32(value));
    GError* e = nullptr;
    if (!g_dbus_connection_emit_signal(impl_->connection, nullptr, kNotificationsPath,
                                       kNotificationsInterface, kNotificationsMember,
                                       g_variant_new("(ssa{sv})", name.c_str(), object.c_str(), &dict),
                                       &e) ||
        !g_dbus_connection_flush_sync(impl_->connection, nullptr, &e)) {
        LogLine("cannot post %s/%s: %s", name.c_str(), object.c_str(), e->message);
        g_error_free(e);
    }
}

bool SessionBusCenter::ClaimDaemonName(std::string& error) {
    // The object goes up before the name: a client that sees the name owned
    // can introspect it at once.
    GError* e = nullptr;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kNotificationsIntrospection, &e);
    GDBusInterfaceInfo* interface =
        node ? g_dbus_node_info_lookup_interface(node, kNotificationsInterface) : nullptr;
    if (!interface) {
        error = std::string("the built-in interface description has no ") + kNotificationsInterface +
                (e ? std::string(": ") + e->message : std::string());
        g_clear_error(&e);
        if (node) g_dbus_node_info_unref(node);
        return false;
    }
    static const GDBusInterfaceVTable vtable = {};
    impl_->objectRegistration = g_dbus_connection_register_object(
        impl_->connection, kNotificationsPath, interface, &vtable, nullptr, nullptr, &e);
    g_dbus_node_info_unref(node);
    if (!impl_->objectRegistration) {
        error = e->message;
        g_error_free(e);
        return false;
    }
    GVariant* reply = impl_->CallBus("RequestName", g_variant_new("(su)", kDaemonBusName, 4u /* do not queue */),
                                     "(u)", error);
    if (!reply) return false;
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
    if (result != 1 /* primary owner */) {
        error = "the name is taken";
        return false;
    }
    impl_->nameLostSubscription = g_dbus_connection_signal_subscribe(
        impl_->connection, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameLost",
        "/org/freedesktop/DBus", kDaemonBusName, G_DBUS_SIGNAL_FLAGS_NONE, &Impl::OnNameLost,
        impl_.get(), nullptr);
    return true;
}

bool SessionBusCenter::DaemonRunning() {
    std::string error;
    GVariant* reply = impl_->CallBus("NameHasOwner", g_variant_new("(s)", kDaemonBusName), "(b)", error);
    if (!reply) return false;
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned != FALSE;
}

void SessionBusCenter::OnLost(void (*lost)(const char* why)) { impl_->lost = lost; }

void SessionBusCenter::FollowDaemon(std::function<void(bool running)> changed) {
    impl_->daemonFollower = std::move(changed);
    WatchOwner();
}

void SessionBusCenter::WatchOwner() {
    if (impl_->daemonWatch == 0)
        impl_->daemonWatch = g_dbus_connection_signal_subscribe(
            impl_->connection, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
            "/org/freedesktop/DBus", kDaemonBusName, G_DBUS_SIGNAL_FLAGS_NONE, &Impl::OnDaemonOwnerChanged,
            impl_.get(), nullptr);
}

void SessionBusCenter::WatchDaemon(void (*gone)()) {
    impl_->daemonGone = gone;
    WatchOwner();
    // The match is in force once a later call on the bus returns: a daemon
    // that ended before it is found by asking.
    if (!DaemonRunning() && impl_->daemonGone) {
        impl_->daemonGone = nullptr;
        gone();
    }
}
