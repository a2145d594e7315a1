// What the keyboard changed on its own, relayed to the settings application.
#include "keyboard/preferences.hpp"
#include "platform/notifications.hpp"

namespace {

void Relay(const char* object, const char* key, int value) {
    if (NotificationCenter* center = CurrentNotificationCenter())
        center->Post("PellQZ5", object, {{key, value}});
}

}  // namespace

void Preferences::PostLightModeChangeNotification(int mode) {
    Relay("QZ5LightModeChange", "QZ5LightModeNumber", mode);
}

void Preferences::PostGameModeChangeNotification(int on) {
    Relay("QZ5GameModeChange", "QZ5GameModeNumber", on);
}

void Preferences::PostProfileChangeNotification(int profile) {
    m_Config.PROFILE_ID = static_cast<uint32_t>(profile);  // in memory only
    Relay("QZ5ProfileChange", "ProfileNumber", profile);
}
