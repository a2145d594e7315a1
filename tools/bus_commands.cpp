#include "tools/bus_commands.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>

#include "platform/main_loop.hpp"
#include "platform/notifications.hpp"
#include "protocol/vocabulary.hpp"

const char* const kBusCommandsUsage =
    "  status [--timeout S]        ask qz5d for the keyboard's status (default 15 s)\n"
    "  apply PROFILE [--save]      make qz5d reload the settings file and send PROFILE\n"
    "                              (1-3) to the keyboard; --save stores it there\n"
    "  select PROFILE              switch the keyboard to PROFILE (1-3)\n"
    "  lighting                    reload the settings file and send the lighting\n"
    "  game on|off                 game mode on or off\n"
    "  save                        make the keyboard store its settings\n"
    "  osd CODE                    show the on-screen display for CODE (decimal or 0x-hex)\n"
    "                              these six wait until qz5d says how it went (exit 3: no\n"
    "                              keyboard, 4: a request failed); --no-wait only asks\n"
    "  monitor [--count N]         print each notification qz5d posts, one a line\n";

namespace {

int Usage(const std::string& problem) {
    std::fprintf(stderr, "qz5ctl: %s (see qz5ctl --help)\n", problem.c_str());
    return 2;
}

std::optional<long> Number(const std::string& text, long min, long max) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < min || v > max) return std::nullopt;
    return v;
}

std::optional<int> Profile(const std::string& text) {
    if (text != "1" && text != "2" && text != "3") return std::nullopt;
    return std::stoi(text) - 1;
}

// The session bus, and qz5d on it; nullptr after printing why not.
std::unique_ptr<SessionBusCenter> ConnectToDaemon() {
    std::string error;
    auto center = SessionBusCenter::Connect(error);
    if (!center) {
        std::fprintf(stderr, "qz5ctl: %s\n", error.c_str());
        return nullptr;
    }
    if (!center->DaemonRunning()) {
        std::fprintf(stderr, "qz5ctl: qz5d is not running on this session bus\n");
        return nullptr;
    }
    return center;
}

// --- Changes, and waiting for qz5d to say how each went ---

constexpr int kNoKeyboardStatus = 3;
constexpr int kRequestFailedStatus = 4;
constexpr unsigned kAppliedTimeoutMs = 120000;  // behind a few full downloads

struct Applied {
    int32_t changeId;
    std::optional<UserInfo> notice;
};

void AppliedNotice(NotificationCenter*, void* observer, const std::string&, const std::string&,
                   const UserInfo& info) {
    auto& applied = *static_cast<Applied*>(observer);
    if (applied.notice || ReadUserInfoInt(info, qz5::kKeyChangeId) != applied.changeId) return;  // someone else's
    applied.notice = info;
    QuitMainLoop(0);
}

// The exit status the notice of a change calls for, after saying why on
// standard error. The on-screen display needs no keyboard.
int AppliedStatus(const UserInfo& notice, bool needsKeyboard) {
    const int requests = ReadUserInfoInt(notice, qz5::kKeyRequestCount);
    const int failed = ReadUserInfoInt(notice, qz5::kKeyFailedCount);
    const int missed = ReadUserInfoInt(notice, qz5::kKeyMissedCount);
    if (needsKeyboard && (ReadUserInfoInt(notice, qz5::kKeyIsHaved) == 0 || missed > 0)) {
        if (missed > 0 && missed < requests)
            std::fprintf(stderr, "qz5ctl: the keyboard went away: %d of %d requests found no keyboard\n", missed,
                         requests);
        else
            std::fprintf(stderr, "qz5ctl: no keyboard attached: the change did not reach one\n");
        return kNoKeyboardStatus;
    }
    if (failed > 0) {
        std::fprintf(stderr, "qz5ctl: %d of %d requests failed at the keyboard (qz5d's log says how)\n", failed,
                     requests);
        return kRequestFailedStatus;
    }
    return 0;
}

// Posts a settings change; unless told not to wait, waits for qz5d's notice
// that it was carried out. progress: what a terminal is shown meanwhile.
int Change(PostInfo info, bool wait, const std::string& progress, bool needsKeyboard = true) {
    auto center = ConnectToDaemon();
    if (!center) return 1;
    if (!wait) {
        center->Post(qz5::kNameSettings, qz5::kSettingChange, info);
        return 0;
    }
    // Tells this change's notice from others': any non-zero number will do.
    Applied applied{static_cast<int32_t>((static_cast<uint32_t>(getpid()) << 8 ^ static_cast<uint32_t>(time(nullptr))) &
                                         0x7FFFFFFF) | 1,
                    std::nullopt};
    info.emplace_back(qz5::kKeyChangeId, applied.changeId);
    if (!center->AddObserver(&applied, &AppliedNotice, qz5::kNameSettings, qz5::kSettingApplied)) return 1;
    const bool terminal = isatty(STDOUT_FILENO) == 1;
    if (terminal) {
        std::printf("%s ...", progress.c_str());
        std::fflush(stdout);
    }
    center->Post(qz5::kNameSettings, qz5::kSettingChange, info);
    center->OnLost([](const char* why) {
        std::fprintf(stderr, "\nqz5ctl: %s\n", why);
        QuitMainLoop(1);
    });
    center->WatchDaemon([] { QuitMainLoop(6); });
    AddMainLoopTimeout(kAppliedTimeoutMs, [] {
        QuitMainLoop(5);
        return false;
    });
    const int status = RunMainLoop();
    if (!applied.notice) {
        if (terminal) std::printf("\n");
        if (status == 6)
            std::fprintf(stderr, "qz5ctl: qz5d ended before it said how the change went\n");
        if (status == 5)
            std::fprintf(stderr,
                         "qz5ctl: qz5d took the change but did not say within %u s how it went (a qz5d "
                         "older than this qz5ctl never does: try --no-wait)\n",
                         kAppliedTimeoutMs / 1000);
        return 1;
    }
    if (terminal) {
        const int requests = ReadUserInfoInt(*applied.notice, qz5::kKeyRequestCount);
        std::printf(" %d request%s, %.1f s\n", requests, requests == 1 ? "" : "s",
                    ReadUserInfoInt(*applied.notice, qz5::kKeyMilliseconds) / 1000.0);
        std::fflush(stdout);
    }
    return AppliedStatus(*applied.notice, needsKeyboard);
}

int Type(qz5::ChangeType t) { return static_cast<int>(t); }

// The change commands: apply, select, lighting, game, save, osd, each with
// an optional --no-wait anywhere after the command.
int ChangeCommand(std::vector<std::string> a) {
    const auto noWait = std::find(a.begin() + 1, a.end(), "--no-wait");
    const bool wait = noWait == a.end();
    if (!wait) a.erase(noWait);
    const std::string& c = a[0];
    if (c == "apply") {
        const bool save = a.size() == 3 && a[2] == "--save";
        const auto p = a.size() >= 2 ? Profile(a[1]) : std::nullopt;
        if ((a.size() != 2 && !save) || !p) return Usage("apply: expected PROFILE (1-3) [--save] [--no-wait]");
        return Change({{qz5::kKeyChangeType, Type(qz5::ChangeType::FullDownload)}, {qz5::kKeyProfileNumber, *p}, {qz5::kKeyIsSave, save ? 1 : 0}}, wait,
                      "sending profile " + a[1] + " to the keyboard" + (save ? " and saving it" : ""));
    }
    if (c == "select") {
        const auto p = a.size() == 2 ? Profile(a[1]) : std::nullopt;
        if (!p) return Usage("select: expected PROFILE (1-3) [--no-wait]");
        return Change({{qz5::kKeyChangeType, Type(qz5::ChangeType::SelectProfile)}, {qz5::kKeyProfileNumber, *p}}, wait, "selecting profile " + a[1]);
    }
    if (c == "lighting" || c == "save") {
        if (a.size() != 1) return Usage(c + ": takes no arguments but --no-wait");
        return Change({{qz5::kKeyChangeType, Type(c == "lighting" ? qz5::ChangeType::Lighting : qz5::ChangeType::Save)}}, wait,
                      c == "lighting" ? "sending the lighting to the keyboard" : "saving the keyboard's settings");
    }
    if (c == "game") {
        if (a.size() != 2 || (a[1] != "on" && a[1] != "off")) return Usage("game: expected on or off [--no-wait]");
        return Change({{qz5::kKeyChangeType, Type(qz5::ChangeType::GameMode)}, {qz5::kKeyGameMode, a[1] == "on" ? 1 : 0}}, wait,
                      "turning game mode " + a[1]);
    }
    // osd
    const auto code = a.size() == 2 ? Number(a[1], -2147483648L, 2147483647L) : std::nullopt;
    if (!code) return Usage("osd: expected CODE, decimal or 0x-hex [--no-wait]");
    return Change({{qz5::kKeyChangeType, Type(qz5::ChangeType::Osd)}, {qz5::kKeyOsdType, static_cast<int>(*code)}}, wait,
                  "showing the on-screen display", false);
}

void PrintNotification(NotificationCenter*, void* observer, const std::string&,
                       const std::string& object, const UserInfo& info) {
    std::string line = object;
    for (const auto& [key, value] : info) line += " " + key + "=" + UserInfoValueText(value);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    long& left = *static_cast<long*>(observer);
    if (left > 0 && --left == 0) QuitMainLoop(0);
}

int Monitor(const std::vector<std::string>& a) {
    long left = 0;  // 0: no limit
    if (a.size() == 3 && a[1] == "--count") {
        const auto n = Number(a[2], 1, 1000000000);
        if (!n) return Usage("monitor: --count takes a whole number above 0");
        left = *n;
    } else if (a.size() != 1) {
        return Usage("monitor: expected [--count N]");
    }
    std::string error;
    auto center = SessionBusCenter::Connect(error);
    if (!center) {
        std::fprintf(stderr, "qz5ctl: %s\n", error.c_str());
        return 1;
    }
    for (const auto& [name, object] : qz5::kDaemonPosts)
        if (!center->AddObserver(&left, &PrintNotification, name, object)) return 1;
    center->OnLost([](const char* why) {
        std::fprintf(stderr, "qz5ctl: %s\n", why);
        QuitMainLoop(1);
    });
    InstallQuitSignals();
    std::fprintf(stderr, "listening\n");
    return RunMainLoop();
}

void StatusReply(NotificationCenter*, void*, const std::string&, const std::string&,
                 const UserInfo& info) {
    // Replies to other requests may arrive in the same dispatch: one is printed.
    static bool answered = false;
    if (answered) return;
    answered = true;
    std::printf("keyboard: %s\nprofile: %d\nlight level: %d\n",
                ReadUserInfoInt(info, qz5::kKeyIsHaved) != 0 ? "present" : "absent",
                ReadUserInfoInt(info, qz5::kKeyProfileNumber), ReadUserInfoInt(info, qz5::kKeyLightLev));
    std::fflush(stdout);
    QuitMainLoop(0);
}

int Status(const std::vector<std::string>& a) {
    double seconds = 15;
    if (a.size() == 3 && a[1] == "--timeout") {
        char* end = nullptr;
        seconds = std::strtod(a[2].c_str(), &end);
        if (*end != '\0' || !(seconds > 0) || seconds > 86400) return Usage("status: --timeout takes seconds above 0");
    } else if (a.size() != 1) {
        return Usage("status: expected [--timeout S]");
    }
    auto center = ConnectToDaemon();
    if (!center || !center->AddObserver(nullptr, &StatusReply, qz5::kNameCheck, qz5::kRecDeviceStatue)) return 1;
    center->Post(qz5::kNameCheck, qz5::kGetDeviceStatue, {});
    AddMainLoopTimeout(static_cast<unsigned>(std::lround(seconds * 1000)), [] {
        QuitMainLoop(3);
        return false;
    });
    const int status = RunMainLoop();
    if (status == 3) {
        std::fprintf(stderr,
                     "qz5ctl: qz5d did not answer within %g s (is it busy with a download, "
                     "or waiting for a console login?)\n",
                     seconds);
        return 1;
    }
    return status;
}

}  // namespace

bool IsBusCommand(const std::string& c) {
    return c == "status" || c == "apply" || c == "select" || c == "lighting" || c == "game" ||
           c == "save" || c == "osd" || c == "monitor";
}

int RunBusCommand(const std::vector<std::string>& a) {
    const std::string& c = a[0];
    if (c == "status") return Status(a);
    if (c == "monitor") return Monitor(a);
    return ChangeCommand(a);
}
