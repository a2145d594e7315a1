// What the keyboard's own messages make the daemon do: show the on-screen
// display, relay state changes to the settings application, open what a
// launch key is assigned to. Nothing here sends anything to the keyboard.
#include <cstring>

#include "config/utf8.hpp"
#include "keyboard/preferences.hpp"
#include "platform/launch.hpp"
#include "platform/log.hpp"

namespace {

constexpr uint8_t kLaunchKey = 0xFD;

}  // namespace

void Preferences::DealwithMessage(int type, unsigned char* data) {
    if (data[0] != 0)
        LogLine("%x %x %x %x %x %x %x %x ", data[0], data[1], data[2], data[3], data[4], data[5], data[6],
                data[7]);
    if (type == 4) {
        switch (data[0]) {
            case kLaunchKey:
                LogLine("open App");
                OpenLaunchPro(data[1]);
                break;
            case 0xCD:
            case 0xB5:
            case 0xB6:
            case 0xB7:
                ShowMsgFrm(data[0]);  // the media keys: the picture only
                break;
            default:
                break;
        }
        return;
    }
    if (type != 8 || data[0] > 0xF0) return;
    const uint8_t state = data[2];
    if (state < 0xF1 || state > 0xFE) return;
    ShowMsgFrm(state);
    if (state <= 0xF3)
        PostProfileChangeNotification(state - 0xF1);
    else if (state == 0xF8 || state == 0xF9)
        PostGameModeChangeNotification(state == 0xF8 ? 1 : 0);
    else if (state >= 0xFA)
        PostLightModeChangeNotification(state - 0xFA);
}

void Preferences::OpenLaunchPro(int keyNumber) {
    if (keyNumber < 1 || keyNumber > kTKeyCount + kMappingKeyCount) return;  // names no key
    const int profile = static_cast<int>(m_Config.PROFILE_ID);
    if (!CheckProfile(profile, "launch key")) return;
    const int i = keyNumber - 1;
    const _QZ5_PROFILE& p = m_Config.PROFILE[profile];
    const _TKEY_INFO& key = i >= kTKeyCount ? p.MAPPINGKEYINFO[i - kTKeyCount] : p.TKEYINFO[i];
    char path[sizeof key.LAUNCHPATH + 1] = {};
    std::memcpy(path, key.LAUNCHPATH, sizeof key.LAUNCHPATH);  // terminated even if the record is not
    if (!IsUtf8(path)) return;
    Launcher& launcher = CurrentLauncher();
    if (path[0] != '\0' && launcher.Exists(path)) launcher.Open(path);
}
