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

#include "client/daemon_client.hpp"
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

// The session bus, and qz5d on it; nullptr after printing why not.
std::unique_ptr<DaemonClient> ConnectToDaemon() {
    std::string error;
    auto client = DaemonClient::Connect(error);
    if (!client) {
        std::fprintf(stderr, "qz5ctl: %s\n", error.c_str());
        return nullptr;
    }
    if (!client->DaemonRunning()) {
        std::fprintf(stderr, "qz5ctl: qz5d is not running on this session bus\n");
        return nullptr;
    }
    return client;
}

// --- Changes, and waiting for qz5d to say how each went ---

constexpr int kNoKeyboardStatus = 3;
constexpr int kRequestFailedStatus = 4;
constexpr unsigned kAppliedTimeoutMs = 120000;  // behind a few full downloads

// Posts a settings change; unless told not to wait, waits for qz5d's notice
// that it was carried out. progress: what a terminal is shown meanwhile.
int Change(const PostInfo& info, bool wait, const std::string& progress, bool needsKeyboard = true) {
    auto client = ConnectToDaemon();
    if (!client) return 1;
    if (!wait) {
        client->Post(info);
        return 0;
    }
    const bool terminal = isatty(STDOUT_FILENO) == 1;
    if (terminal) {
        std::printf("%s ...", progress.c_str());
        std::fflush(stdout);
    }
    client->OnLost([](const char* why) {
        std::fprintf(stderr, "\nqz5ctl: %s\n", why);
        QuitMainLoop(1);
    });
    std::optional<ChangeOutcome> outcome;
    client->PostAndFollow(
        info,
        [&outcome](const ChangeOutcome& o) {
            outcome = o;
            QuitMainLoop(0);
        },
        needsKeyboard, kAppliedTimeoutMs);
    if (!outcome && RunMainLoop() != 0) return 1;
    if (outcome->kind == ChangeOutcome::DaemonEnded || outcome->kind == ChangeOutcome::NoAnswer) {
        if (terminal) std::printf("\n");
        std::fprintf(stderr, "qz5ctl: %s%s\n", outcome->message.c_str(),
                     outcome->kind == ChangeOutcome::NoAnswer
                         ? " (a qz5d older than this qz5ctl never does: try --no-wait)"
                         : "");
        return 1;
    }
    if (terminal) {
        std::printf(" %d request%s, %.1f s\n", outcome->requests, outcome->requests == 1 ? "" : "s",
                    outcome->milliseconds / 1000.0);
        std::fflush(stdout);
    }
    if (outcome->kind == ChangeOutcome::Done) return 0;
    std::fprintf(stderr, "qz5ctl: %s\n", outcome->message.c_str());
    return outcome->kind == ChangeOutcome::NoKeyboard ? kNoKeyboardStatus : kRequestFailedStatus;
}

// The change commands: apply, select, lighting, game, save, osd, each with
// an optional --no-wait anywhere after the command.
int ChangeCommand(std::vector<std::string> a) {
    const auto noWait = std::find(a.begin() + 1, a.end(), "--no-wait");
    const bool wait = noWait == a.end();
    if (!wait) a.erase(noWait);
    auto info = ChangeOfWords(a);
    if (!info) return Usage(info.error());
    const std::string& c = a[0];
    std::string progress;
    if (c == "apply") progress = "sending profile " + a[1] + " to the keyboard" + (a.size() == 3 ? " and saving it" : "");
    if (c == "select") progress = "selecting profile " + a[1];
    if (c == "lighting") progress = "sending the lighting to the keyboard";
    if (c == "save") progress = "saving the keyboard's settings";
    if (c == "game") progress = "turning game mode " + a[1];
    if (c == "osd") progress = "showing the on-screen display";
    return Change(*info, wait, progress, c != "osd");
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

int Status(const std::vector<std::string>& a) {
    double seconds = 15;
    if (a.size() == 3 && a[1] == "--timeout") {
        char* end = nullptr;
        seconds = std::strtod(a[2].c_str(), &end);
        if (*end != '\0' || !(seconds > 0) || seconds > 86400) return Usage("status: --timeout takes seconds above 0");
    } else if (a.size() != 1) {
        return Usage("status: expected [--timeout S]");
    }
    auto client = ConnectToDaemon();
    if (!client) return 1;
    // Replies to other requests may arrive in the same dispatch: one is printed.
    bool answered = false;
    client->OnStatus([&answered](const DeviceStatus& st) {
        if (answered) return;
        answered = true;
        std::printf("keyboard: %s\nprofile: %d\nlight level: %d\n", st.present ? "present" : "absent", st.profile,
                    st.lightLevel);
        std::fflush(stdout);
        QuitMainLoop(0);
    });
    client->AskStatus();
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
