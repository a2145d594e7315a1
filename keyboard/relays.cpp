// What the keyboard changed on its own, relayed to the settings application.
#include "keyboard/preferences.hpp"
#include "platform/notifications.hpp"
#include "protocol/vocabulary.hpp"

namespace {

void Relay(const char* object, const char* key, int value) {
    if (NotificationCenter* center = CurrentNotificationCenter())
        center->Post(qz5::kNameSettings, object, {{key, value}});
}

}  // namespace

void Preferences::PostLightModeChangeNotification(int mode) {
    Relay(qz5::kLightModeChange, qz5::kKeyLightModeNumber, mode);
}

void Preferences::PostGameModeChangeNotification(int on) {
    Relay(qz5::kGameModeChange, qz5::kKeyGameModeNumber, on);
}

void Preferences::PostProfileChangeNotification(int profile) {
    m_Config.PROFILE_ID = static_cast<uint32_t>(profile);  // in memory only
    Relay(qz5::kProfileChange, qz5::kKeyProfileNumber, profile);
}
