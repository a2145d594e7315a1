// What the keyboard's own messages make the daemon do: show the on-screen
// display, relay state changes to the settings application, open what a
// launch key is assigned to. Nothing here sends anything to the keyboard.
#include <cstring>

#include "keyboard/preferences.hpp"
#include "platform/launch.hpp"
#include "platform/log.hpp"

namespace {

constexpr uint8_t kLaunchKey = 0xFD;

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or code
// points above U+10FFFF).
bool ValidUtf8(const char* text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        int extra;
        uint32_t cp;
        if (*s < 0x80) {
            ++s;
            continue;
        } else if ((*s & 0xE0) == 0xC0) {
            extra = 1, cp = *s & 0x1F;
        } else if ((*s & 0xF0) == 0xE0) {
            extra = 2, cp = *s & 0x0F;
        } else if ((*s & 0xF8) == 0xF0) {
            extra = 3, cp = *s & 0x07;
        } else {
            return false;
        }
        for (int i = 1; i <= extra; ++i) {
            if ((s[i] & 0xC0) != 0x80) return false;
            cp = cp << 6 | (s[i] & 0x3F);
        }
        static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        s += extra + 1;
    }
    return true;
}

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
    if (!ValidUtf8(path)) return;
    Launcher& launcher = CurrentLauncher();
    if (path[0] != '\0' && launcher.Exists(path)) launcher.Open(path);
}
