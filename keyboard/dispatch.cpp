// What the keyboard's own messages make the daemon do: show the on-screen
// display, relay state changes to the settings application, open what a
// launch key is assigned to. Nothing here sends anything to the keyboard.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "config/utf8.hpp"
#include "keyboard/preferences.hpp"
#include "platform/launch.hpp"
#include "platform/log.hpp"
#include "protocol/vocabulary.hpp"

void Preferences::DealwithMessage(int type, unsigned char* data) {
    if (data[0] != 0)
        LogLine("%x %x %x %x %x %x %x %x ", data[0], data[1], data[2], data[3], data[4], data[5], data[6],
                data[7]);
    if (type == qz5::kReportKeys) {
        if (data[0] == qz5::kKeyLaunch) {
            LogLine("open App");
            OpenLaunchPro(data[1]);
        } else if (std::find(std::begin(qz5::kMediaKeys), std::end(qz5::kMediaKeys), data[0]) !=
                   std::end(qz5::kMediaKeys)) {
            ShowMsgFrm(data[0]);  // the media keys: the picture only
        }
        return;
    }
    if (type != qz5::kReportState || data[0] > qz5::kStateByte0Max) return;
    const uint8_t state = data[2];
    if (state < qz5::kStateFirst || state > qz5::kStateLast) return;
    ShowMsgFrm(state);
    // What each state code relays after its picture: codes first to last
    // relay value0, value0 + 1, ...; the codes between (F4-F7) only show.
    struct StateRelay {
        uint8_t first, last;
        void (Preferences::*relay)(int);
        int value0;
    };
    static constexpr StateRelay kRelays[] = {
        {qz5::kStateProfile1, qz5::kStateProfile3, &Preferences::PostProfileChangeNotification, 0},
        {qz5::kStateGameOn, qz5::kStateGameOn, &Preferences::PostGameModeChangeNotification, 1},
        {qz5::kStateGameOff, qz5::kStateGameOff, &Preferences::PostGameModeChangeNotification, 0},
        {qz5::kStateLight0, qz5::kStateLight4, &Preferences::PostLightModeChangeNotification, 0},
    };
    for (const StateRelay& r : kRelays)
        if (state >= r.first && state <= r.last) (this->*r.relay)(r.value0 + (state - r.first));
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
