// The session's environment as launches and the OSD get it, and the command
// lines that launch keys start.
#include <gtest/gtest.h>

#include "platform/launch_plan.hpp"
#include "platform/session_environment.hpp"

namespace {

ConsoleSession Logind(std::string display, std::string type, std::string runtime = "/run/user/1000") {
    ConsoleSession s;
    s.display = std::move(display);
    s.type = std::move(type);
    s.runtimeDir = std::move(runtime);
    return s;
}

// Which source wins for each variable, and what fills the gaps.
TEST(SessionEnvironmentTest, TheManagerWinsThenOurOwnThenLogindThenTheRuntimeFolder) {
    struct Case {
        const char* what;
        SessionSources sources;
        const char* wayland;
        const char* display;
        const char* summary;
    };
    const std::vector<std::string> sockets{"bus", "wayland-10", "wayland-1", "wayland-x", "wayland-1.lock"};
    const Case cases[] = {
        {"the manager's over ours and logind's",
         {Logind(":9", "x11"), std::vector<std::string>{"WAYLAND_DISPLAY=wayland-3", "DISPLAY=:1", "LANG=C"},
          {{"DISPLAY", ":5"}}, {}},
         "wayland-3", ":1", "WAYLAND_DISPLAY=wayland-3 DISPLAY=:1 (session type x11)"},
        {"an empty value in the manager names nothing",
         {Logind(":9", "x11"), std::vector<std::string>{"DISPLAY=", "junk", "=x"}, {{"DISPLAY", ":5"}}, {}},
         "", ":5", "DISPLAY=:5 (session type x11)"},
        {"no manager: logind's display",
         {Logind(":9", "x11"), std::nullopt, {}, sockets}, "", ":9", "DISPLAY=:9 (session type x11)"},
        {"a Wayland session nobody named: its first socket",
         {Logind("", "wayland"), std::nullopt, {}, sockets}, "wayland-1", "",
         "WAYLAND_DISPLAY=wayland-1 (session type wayland)"},
        {"an X11 session's Wayland sockets are not guessed at",
         {Logind("", "x11"), std::nullopt, {}, sockets}, "", "", "none (session type x11)"},
        {"nothing at all", {std::nullopt, std::nullopt, {}, {}}, "", "", "none"},
    };
    for (const auto& c : cases) {
        const SessionEnvironment env = ResolveSessionEnvironment(c.sources);
        EXPECT_EQ(env.Get("WAYLAND_DISPLAY"), c.wayland) << c.what;
        EXPECT_EQ(env.Get("DISPLAY"), c.display) << c.what;
        EXPECT_EQ(env.DisplaySummary(), c.summary) << c.what;
        EXPECT_EQ(env.managerAnswered, c.sources.manager.has_value()) << c.what;
        for (const auto& [name, value] : env.vars) EXPECT_FALSE(value.empty()) << c.what << ": " << name;
    }
    // The manager's whole environment goes on, not only the display.
    const auto env = ResolveSessionEnvironment({Logind("", "wayland"), std::vector<std::string>{"LANG=C"}, {}, {}});
    EXPECT_EQ(env.Get("LANG"), "C");
    EXPECT_EQ(env.Get("XDG_RUNTIME_DIR"), "/run/user/1000");
}

TEST(LaunchPlanTest, DesktopExecLinesExpandTheirFieldCodesAndQuoting) {
    const DesktopEntryFields viewer{"", "My Viewer", "viewer-icon", "/apps/viewer.desktop"};
    struct Case {
        std::string exec;
        std::vector<std::string> files;
        std::vector<std::string> argv;
    };
    const Case cases[] = {
        {"viewer %f", {"/home/a b/it's.txt"}, {"viewer", "/home/a b/it's.txt"}},
        {"viewer %u", {"/home/a b/x.txt"}, {"viewer", "file:///home/a%20b/x.txt"}},
        {"viewer %F --", {"/a", "/b"}, {"viewer", "/a", "/b", "--"}},
        {"viewer %U", {"/a"}, {"viewer", "file:///a"}},
        {"viewer %f", {}, {"viewer"}},
        {"viewer %i %c %k 100%% %d%n", {}, {"viewer", "--icon", "viewer-icon", "My Viewer", "/apps/viewer.desktop", "100%"}},
        {"sh -c 'echo $0 >> \"/tmp/x y\"' %f", {"/d"}, {"sh", "-c", "echo $0 >> \"/tmp/x y\"", "/d"}},
        {"\"/opt/my app/run\" --new-window", {}, {"/opt/my app/run", "--new-window"}},
    };
    for (const auto& c : cases) {
        DesktopEntryFields entry = viewer;
        entry.exec = c.exec;
        const auto argv = ExpandDesktopExec(entry, c.files);
        ASSERT_TRUE(argv) << c.exec;
        EXPECT_EQ(*argv, c.argv) << c.exec;
    }
    for (const char* bad : {"", "   ", "viewer 'unclosed"}) {
        DesktopEntryFields entry = viewer;
        entry.exec = bad;
        EXPECT_FALSE(ExpandDesktopExec(entry, {})) << bad;
    }
}

TEST(LaunchPlanTest, UnitNamesAndProgramLookup) {
    EXPECT_EQ(LaunchUnitName("org.gnome.Terminal", "00ff"), "app-qz5d-org.gnome.Terminal@00ff.service");
    EXPECT_EQ(LaunchUnitName("my script (2).sh", "1"), "app-qz5d-my_script__2_.sh@1.service");
    EXPECT_EQ(LaunchUnitName("", "1"), "app-qz5d-program@1.service");

    // The first executable of that name along the path; a path is taken as it is.
    EXPECT_EQ(FindProgram("sh", "/nonexistent::/etc:/usr/bin:/bin"), "/usr/bin/sh");
    EXPECT_EQ(FindProgram("/etc/passwd", "/usr/bin"), "");  // not executable
    EXPECT_EQ(FindProgram("/usr/bin/sh", ""), "/usr/bin/sh");
    EXPECT_EQ(FindProgram("qz5-nothing-such", "/usr/bin:/bin"), "");
}

}  // namespace
