// What the settings application asks of the daemon, and the status reply.
#include "daemon/application.hpp"
#include "platform/log.hpp"

void QZ5SettingChangeNotifProc(NotificationCenter*, void*, const std::string&, const std::string&,
                               const UserInfo& userInfo) {
    LogLine("QZ5SettingChangeNotifProc");
    const int type = ReadUserInfoInt(userInfo, "QZ5SettingChangeType");
    const bool save = ReadUserInfoBool(userInfo, "isSave");
    Preferences* prefs = Application::GetApp()->GetPrefs();
    switch (type) {
        case 1:  // full download of a saved profile
            prefs->RefreshSetting();
            prefs->SendFullDownload(ReadUserInfoInt(userInfo, "ProfileNumber"), save);
            break;
        case 2:  // select a profile: the keyboard counts from 1
            prefs->SendProfileid(static_cast<int>(ReadUserInfoInt(userInfo, "ProfileNumber") + 1LL));
            break;
        case 3:  // lighting
            prefs->RefreshSetting();
            prefs->MakeAndSendLightToDevice();
            break;
        case 4:  // game mode
            prefs->SendWorkMode(ReadUserInfoInt(userInfo, "QZ5GameModeChange") != 0 ? 3 : 1);
            break;
        case 5:
            prefs->SendSaveToDevice();
            break;
        case 6:
            prefs->ShowMsgFrm(ReadUserInfoInt(userInfo, "OsdType"));
            break;
        default:
            break;
    }
}

void QZ5GetDevStatueProc(NotificationCenter*, void*, const std::string&, const std::string&,
                         const UserInfo&) {
    PostStautToAp();
}

void PostStautToAp() {
    Application* app = Application::GetApp();
    const bool present = app->GetIsOnDev();
    Preferences* prefs = app->GetPrefs();
    const int profile = prefs->GetDevProfile();
    LogLine("tempPro  %d", profile);
    PostInfo info;
    info.emplace_back("ProfileNumber", profile);
    info.emplace_back("IsHaved", present ? 1 : 0);
    info.emplace_back("LightLev", prefs->GetDevLightLevel());
    if (NotificationCenter* center = CurrentNotificationCenter())
        center->Post("PellQZ5Check", "RecDeviceStatue", info);
}
