// What the settings application asks of the daemon, the status reply and the
// notice that a change was carried out.
#include <memory>

#include "daemon/application.hpp"
#include "platform/log.hpp"

namespace {

// Once the change's requests (queued between the two tallies) are done, tells
// the sender how it went. present: whether a keyboard was there when the
// change had no request to show it.
void PostSettingApplied(int type, int profile, int changeId, const RequestTally& tally, bool present,
                        int64_t microseconds) {
    if (tally.requests > 0) present = tally.missed == 0;
    LogLine("change %d done: %d requests, %d failed, %d found no keyboard, %lld ms", type, tally.requests,
            tally.failed, tally.missed, static_cast<long long>(microseconds / 1000));
    PostInfo info{{"QZ5SettingChangeType", type},   {"ProfileNumber", profile},
                  {"RequestCount", tally.requests}, {"FailedCount", tally.failed},
                  {"MissedCount", tally.missed},    {"IsHaved", present ? 1 : 0},
                  {"Milliseconds", static_cast<int32_t>(microseconds / 1000)}};
    if (changeId != 0) info.emplace_back("ChangeId", changeId);
    if (NotificationCenter* center = CurrentNotificationCenter())
        center->Post("PellQZ5", "QZ5SettingApplied", info);
}

}  // namespace

void QZ5SettingChangeNotifProc(NotificationCenter*, void*, const std::string&, const std::string&,
                               const UserInfo& userInfo) {
    LogLine("QZ5SettingChangeNotifProc");
    const int type = ReadUserInfoInt(userInfo, "QZ5SettingChangeType");
    if (type < 1 || type > 6) return;
    const bool save = ReadUserInfoBool(userInfo, "isSave");
    const int profile = ReadUserInfoInt(userInfo, "ProfileNumber");
    const int changeId = ReadUserInfoInt(userInfo, "ChangeId");
    Application* app = Application::GetApp();
    Preferences* prefs = app->GetPrefs();
    RequestQueue& queue = KeyboardQueue();
    const int64_t arrived = queue.NowUs();
    if (type == 6) {  // the display needs no keyboard: at once, even mid-download
        prefs->ShowMsgFrm(ReadUserInfoInt(userInfo, "OsdType"));
        PostSettingApplied(type, profile, changeId, {}, app->GetIsOnDev(), queue.NowUs() - arrived);
        return;
    }
    // The record is reloaded and the tables built now; the requests go out
    // in their turn, behind the keyboard work queued earlier.
    auto before = std::make_shared<RequestTally>();
    queue.Call([before] { *before = KeyboardTally(); });
    switch (type) {
        case 1:  // full download of a saved profile
            prefs->RefreshSetting();
            prefs->SendFullDownload(profile, save);
            break;
        case 2:  // select a profile: the keyboard counts from 1
            prefs->SendProfileid(static_cast<int>(profile + 1LL));
            break;
        case 3:  // lighting
            prefs->RefreshSetting();
            prefs->MakeAndSendLightToDevice();
            break;
        case 4:  // game mode
            prefs->SendWorkMode(ReadUserInfoInt(userInfo, "QZ5GameModeChange") != 0 ? 3 : 1);
            break;
        default:  // 5
            prefs->SendSaveToDevice();
            break;
    }
    queue.Call([=] {
        PostSettingApplied(type, profile, changeId, KeyboardTally() - *before,
                           Application::GetApp()->GetIsOnDev(), KeyboardQueue().NowUs() - arrived);
    });
}

void QZ5GetDevStatueProc(NotificationCenter*, void*, const std::string&, const std::string&,
                         const UserInfo&) {
    PostStautToAp();
}

void PostStautToAp() {
    // Two status reads, queued behind the keyboard's earlier work; the reply
    // goes out once both are done.
    struct Status {
        bool present = false;
        int profile = 0;
    };
    auto status = std::make_shared<Status>();
    RequestQueue& queue = KeyboardQueue();
    queue.Call([status] {
        Application* app = Application::GetApp();
        status->present = app->GetIsOnDev();
        status->profile = app->GetPrefs()->GetDevProfile();
        LogLine("tempPro  %d", status->profile);
    });
    queue.Call([status] {
        PostInfo info;
        info.emplace_back("ProfileNumber", status->profile);
        info.emplace_back("IsHaved", status->present ? 1 : 0);
        info.emplace_back("LightLev", Application::GetApp()->GetPrefs()->GetDevLightLevel());
        if (NotificationCenter* center = CurrentNotificationCenter())
            center->Post("PellQZ5Check", "RecDeviceStatue", info);
    });
}
