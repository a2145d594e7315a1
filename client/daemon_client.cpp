#include "client/daemon_client.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/main_loop.hpp"
#include "protocol/vocabulary.hpp"

struct DaemonClient::State {
    struct Pending {
        std::function<void(const ChangeOutcome&)> done;
        bool needsKeyboard;
    };
    std::map<int32_t, Pending> pending;
    int32_t nextId = 0;
    std::function<void(const DeviceStatus&)> status;
    std::function<void(const Relay&)> relay;
    std::function<void(bool)> daemon;

    void Finish(int32_t id, const ChangeOutcome& outcome) {
        const auto it = pending.find(id);
        if (it == pending.end()) return;
        const auto done = std::move(it->second.done);
        pending.erase(it);
        done(outcome);
    }
};

namespace {

using State = DaemonClient::State;

int Type(qz5::ChangeType t) { return static_cast<int>(t); }

void AppliedNotice(NotificationCenter*, void* observer, const std::string&, const std::string&,
                   const UserInfo& info) {
    auto* s = static_cast<State*>(observer);
    const int32_t id = ReadUserInfoInt(info, qz5::kKeyChangeId);
    const auto it = s->pending.find(id);
    if (id == 0 || it == s->pending.end()) return;  // someone else's
    s->Finish(id, OutcomeOfNotice(info, it->second.needsKeyboard));
}

void StatusReply(NotificationCenter*, void* observer, const std::string&, const std::string&, const UserInfo& info) {
    auto* s = static_cast<State*>(observer);
    if (s->status)
        s->status({ReadUserInfoInt(info, qz5::kKeyIsHaved) != 0, ReadUserInfoInt(info, qz5::kKeyProfileNumber),
                   ReadUserInfoInt(info, qz5::kKeyLightLev)});
}

void RelayNotice(NotificationCenter*, void* observer, const std::string&, const std::string& object,
                 const UserInfo& info) {
    auto* s = static_cast<State*>(observer);
    if (!s->relay) return;
    if (object == qz5::kProfileChange) s->relay({Relay::Profile, ReadUserInfoInt(info, qz5::kKeyProfileNumber)});
    if (object == qz5::kGameModeChange) s->relay({Relay::GameMode, ReadUserInfoInt(info, qz5::kKeyGameModeNumber)});
    if (object == qz5::kLightModeChange) s->relay({Relay::Light, ReadUserInfoInt(info, qz5::kKeyLightModeNumber)});
}

Result<int> ProfileWord(const std::string& word) {
    if (word != "1" && word != "2" && word != "3") return Result<int>::Fail("expected PROFILE (1-3)");
    return word[0] - '1';
}

}  // namespace

ChangeOutcome OutcomeOfNotice(const UserInfo& notice, bool needsKeyboard) {
    ChangeOutcome o;
    o.requests = ReadUserInfoInt(notice, qz5::kKeyRequestCount);
    o.milliseconds = ReadUserInfoInt(notice, qz5::kKeyMilliseconds);
    const int failed = ReadUserInfoInt(notice, qz5::kKeyFailedCount);
    const int missed = ReadUserInfoInt(notice, qz5::kKeyMissedCount);
    if (needsKeyboard && (ReadUserInfoInt(notice, qz5::kKeyIsHaved) == 0 || missed > 0)) {
        o.kind = ChangeOutcome::NoKeyboard;
        o.message = missed > 0 && missed < o.requests
                        ? "the keyboard went away: " + std::to_string(missed) + " of " + std::to_string(o.requests) +
                              " requests found no keyboard"
                        : "no keyboard attached: the change did not reach one";
    } else if (failed > 0) {
        o.kind = ChangeOutcome::RequestsFailed;
        o.message = std::to_string(failed) + " of " + std::to_string(o.requests) +
                    " requests failed at the keyboard (qz5d's log says how)";
    }
    return o;
}

Result<PostInfo> ChangeOfWords(const std::vector<std::string>& a) {
    using R = Result<PostInfo>;
    const std::string c = a.empty() ? "" : a[0];
    if (c == "apply") {
        const bool save = a.size() == 3 && a[2] == "--save";
        auto p = a.size() >= 2 ? ProfileWord(a[1]) : ProfileWord("");
        if ((a.size() != 2 && !save) || !p) return R::Fail("apply: expected PROFILE (1-3) [--save] [--no-wait]");
        return PostInfo{{qz5::kKeyChangeType, Type(qz5::ChangeType::FullDownload)},
                        {qz5::kKeyProfileNumber, *p},
                        {qz5::kKeyIsSave, save ? 1 : 0}};
    }
    if (c == "select") {
        auto p = a.size() == 2 ? ProfileWord(a[1]) : ProfileWord("");
        if (!p) return R::Fail("select: expected PROFILE (1-3) [--no-wait]");
        return PostInfo{{qz5::kKeyChangeType, Type(qz5::ChangeType::SelectProfile)}, {qz5::kKeyProfileNumber, *p}};
    }
    if (c == "lighting" || c == "save") {
        if (a.size() != 1) return R::Fail(c + ": takes no arguments but --no-wait");
        return PostInfo{{qz5::kKeyChangeType, Type(c == "lighting" ? qz5::ChangeType::Lighting : qz5::ChangeType::Save)}};
    }
    if (c == "game") {
        if (a.size() != 2 || (a[1] != "on" && a[1] != "off")) return R::Fail("game: expected on or off [--no-wait]");
        return PostInfo{{qz5::kKeyChangeType, Type(qz5::ChangeType::GameMode)}, {qz5::kKeyGameMode, a[1] == "on" ? 1 : 0}};
    }
    if (c == "osd" && a.size() == 2 && !a[1].empty()) {
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(a[1].c_str(), &end, 0);
        if (errno == 0 && *end == '\0' && v >= -2147483648L && v <= 2147483647L)
            return PostInfo{{qz5::kKeyChangeType, Type(qz5::ChangeType::Osd)}, {qz5::kKeyOsdType, static_cast<int>(v)}};
    }
    if (c == "osd") return R::Fail("osd: expected CODE, decimal or 0x-hex [--no-wait]");
    return R::Fail("no change '" + c + "'");
}

std::unique_ptr<DaemonClient> DaemonClient::Connect(std::string& error) {
    auto center = SessionBusCenter::Connect(error);
    if (!center) return nullptr;
    std::unique_ptr<DaemonClient> client(new DaemonClient);
    client->state_ = std::make_shared<State>();
    State* s = client->state_.get();
    // Tells this program's changes from others': any non-zero numbers will do.
    s->nextId = static_cast<int32_t>((static_cast<uint32_t>(getpid()) << 8 ^ static_cast<uint32_t>(time(nullptr))) &
                                     0x3FFFFFFF) | 1;
    bool ok = center->AddObserver(s, &AppliedNotice, qz5::kNameSettings, qz5::kSettingApplied) &&
              center->AddObserver(s, &StatusReply, qz5::kNameCheck, qz5::kRecDeviceStatue);
    for (const char* relay : {qz5::kProfileChange, qz5::kGameModeChange, qz5::kLightModeChange})
        ok = ok && center->AddObserver(s, &RelayNotice, qz5::kNameSettings, relay);
    if (!ok) {
        error = "cannot follow the daemon's notifications on the session bus";
        return nullptr;
    }
    center->FollowDaemon([s](bool running) {
        if (!running) {  // its changes will never be answered
            std::vector<int32_t> ids;
            for (const auto& [id, p] : s->pending) ids.push_back(id);
            for (int32_t id : ids)
                s->Finish(id, {ChangeOutcome::DaemonEnded, "qz5d ended before it said how the change went"});
        }
        if (s->daemon) s->daemon(running);
    });
    client->center_ = std::move(center);
    return client;
}

DaemonClient::~DaemonClient() = default;

bool DaemonClient::DaemonRunning() { return center_->DaemonRunning(); }

void DaemonClient::Post(const PostInfo& change) { center_->Post(qz5::kNameSettings, qz5::kSettingChange, change); }

void DaemonClient::PostAndFollow(PostInfo change, std::function<void(const ChangeOutcome&)> done, bool needsKeyboard,
                                 unsigned timeoutMs) {
    const int32_t id = state_->nextId;
    state_->nextId = state_->nextId >= 0x7FFFFFFE ? 1 : state_->nextId + 1;
    state_->pending[id] = {std::move(done), needsKeyboard};
    change.emplace_back(qz5::kKeyChangeId, id);
    Post(change);
    std::weak_ptr<State> weak = state_;
    AddMainLoopTimeout(timeoutMs, [weak, id, timeoutMs] {
        if (auto s = weak.lock())
            s->Finish(id, {ChangeOutcome::NoAnswer,
                           "qz5d took the change but did not say within " + std::to_string(timeoutMs / 1000) +
                               " s how it went"});
        return false;
    });
    if (!DaemonRunning()) state_->Finish(id, {ChangeOutcome::DaemonEnded, "qz5d is not running on this session bus"});
}

void DaemonClient::AskStatus() { center_->Post(qz5::kNameCheck, qz5::kGetDeviceStatue, {}); }
void DaemonClient::OnStatus(std::function<void(const DeviceStatus&)> status) { state_->status = std::move(status); }
void DaemonClient::OnRelay(std::function<void(const Relay&)> relay) { state_->relay = std::move(relay); }
void DaemonClient::OnDaemon(std::function<void(bool)> running) { state_->daemon = std::move(running); }
void DaemonClient::OnLost(void (*lost)(const char* why)) { center_->OnLost(lost); }
