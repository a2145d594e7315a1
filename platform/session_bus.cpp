#include "platform/session_bus.hpp"

GDBusConnection* PrivateBusConnection(GBusType type) {
    static GDBusConnection* buses[2] = {};
    GDBusConnection*& bus = buses[type == G_BUS_TYPE_SYSTEM ? 0 : 1];
    if (bus && g_dbus_connection_is_closed(bus)) g_clear_object(&bus);
    if (!bus) {
        gchar* address = g_dbus_address_get_for_bus_sync(type, nullptr, nullptr);
        if (!address) return nullptr;
        bus = g_dbus_connection_new_for_address_sync(
            address,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        g_free(address);
        if (bus) g_dbus_connection_set_exit_on_close(bus, FALSE);
    }
    return bus;
}
