// What the settings application asks of the daemon, the status reply and the
// notice that a change was carried out.
#include <memory>

#include "daemon/application.hpp"
#include "platform/log.hpp"
#include "protocol/vocabulary.hpp"

namespace {

// Once the change's requests (queued between the two tallies) are done, tells
// the sender how it went. present: whether a keyboard was there when the
// change had no request to show it.
void PostSettingApplied(int type, int profile, int changeId, const RequestTally& tally, bool present,
                        int64_t microseconds) {
    if (tally.requests > 0) present = tally.missed == 0;
    LogLine("change %d done: %d requests, %d failed, %d found no keyboard, %lld ms", type, tally.requests,
            tally.failed, tally.missed, static_cast<long long>(microseconds / 1000));
    PostInfo info{{qz5::kKeyChangeType, type},   {qz5::kKeyProfileNumber, profile},
                  {qz5::kKeyRequestCount, tally.requests}, {qz5::kKeyFailedCount, tally.failed},
                  {qz5::kKeyMissedCount, tally.missed},    {qz5::kKeyIsHaved, present ? 1 : 0},
                  {qz5::kKeyMilliseconds, static_cast<int32_t>(microseconds / 1000)}};
    if (changeId != 0) info.emplace_back(qz5::kKeyChangeId, changeId);
    if (NotificationCenter* center = CurrentNotificationCenter())
        center->Post(qz5::kNameSettings, qz5::kSettingApplied, info);
}

}  // namespace

void QZ5SettingChangeNotifProc(NotificationCenter*, void*, const std::string&, const std::string&,
                               const UserInfo& userInfo) {
    LogLine("QZ5SettingChangeNotifProc");
    const int type = ReadUserInfoInt(userInfo, qz5::kKeyChangeType);
    if (type < qz5::kFirstChangeType || type > qz5::kLastChangeType) return;
    const bool save = ReadUserInfoBool(userInfo, qz5::kKeyIsSave);
    const int profile = ReadUserInfoInt(userInfo, qz5::kKeyProfileNumber);
    const int changeId = ReadUserInfoInt(userInfo, qz5::kKeyChangeId);
    Application* app = Application::GetApp();
    Preferences* prefs = app->GetPrefs();
    RequestQueue& queue = KeyboardQueue();
    const int64_t arrived = queue.NowUs();
    if (type == static_cast<int>(qz5::ChangeType::Osd)) {  // the display needs no keyboard: at once, even mid-download
        prefs->ShowMsgFrm(ReadUserInfoInt(userInfo, qz5::kKeyOsdType));
        PostSettingApplied(type, profile, changeId, {}, app->GetIsOnDev(), queue.NowUs() - arrived);
        return;
    }
    // The record is reloaded and the tables built now; the requests go out
    // in their turn, behind the keyboard work queued earlier.
    auto before = std::make_shared<RequestTally>();
    queue.Call([before] { *before = KeyboardTally(); });
    switch (static_cast<qz5::ChangeType>(type)) {
        case qz5::ChangeType::FullDownload:  // of a saved profile
            prefs->RefreshSetting();
            prefs->SendFullDownload(profile, save);
            break;
        case qz5::ChangeType::SelectProfile:  // the keyboard counts from 1
            prefs->SendProfileid(static_cast<int>(profile + 1LL));
            break;
        case qz5::ChangeType::Lighting:
            prefs->RefreshSetting();
            prefs->MakeAndSendLightToDevice();
            break;
        case qz5::ChangeType::GameMode:
            prefs->SendWorkMode(ReadUserInfoInt(userInfo, qz5::kKeyGameMode) != 0 ? qz5::kWorkModeGame
                                                                                 : qz5::kWorkModeNormal);
            break;
        case qz5::ChangeType::Save:
            prefs->SendSaveToDevice();
            break;
        case qz5::ChangeType::Osd:
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
        info.emplace_back(qz5::kKeyProfileNumber, status->profile);
        info.emplace_back(qz5::kKeyIsHaved, status->present ? 1 : 0);
        info.emplace_back(qz5::kKeyLightLev, Application::GetApp()->GetPrefs()->GetDevLightLevel());
        if (NotificationCenter* center = CurrentNotificationCenter())
            center->Post(qz5::kNameCheck, qz5::kRecDeviceStatue, info);
    });
}
