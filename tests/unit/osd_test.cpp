#include <gio/gio.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "osd/custumwindow.hpp"
#include "osd/osd_core.hpp"
#include "osd/show_msg_view.hpp"
#include "testing/log_capture.hpp"
#include "platform/osd.hpp"
extern "C" {
#include "osd_pictures_resource.h"
}

namespace {

// A main loop in miniature: one repeating timer on a clock the test moves.
struct FakeHost : ShowMsgView::Host {
    unsigned startRepeatingTimer(unsigned intervalMs, ShowMsgView& v) override {
        view = &v;
        interval = intervalMs;
        nextTick = now + intervalMs;
        return timer = ++starts;
    }
    void stopTimer(unsigned id) override {
        EXPECT_EQ(id, timer);
        timer = 0;
    }
    void setNeedsDisplay() override {}
    void hideWindow() override { hiddenAt.push_back(now); }
    void advanceTo(unsigned ms) {
        for (; timer && nextTick <= ms; nextTick += interval) {
            now = nextTick;
            view->timerPro();
        }
        now = ms;
    }
    ShowMsgView* view = nullptr;
    unsigned now = 0, timer = 0, interval = 0, nextTick = 0;
    int starts = 0;
    std::vector<unsigned> hiddenAt;
};

struct RecordingCanvas : ShowMsgView::Canvas {
    void clear() override { drawn.push_back("clear"); }
    void drawStringCentered(const std::string& text, const OsdTextAttributes&) override { drawn.push_back("text " + text); }
    void drawPictureCentered(const std::string& name) override { drawn.push_back(name); }
    std::vector<std::string> drawn;
};

TEST(OsdView, DrawsThePictureOfTheLastCodeOnlyWhenTheTableHasOne) {
    struct Case { int code; std::vector<std::string> drawn; };
    const Case cases[] = {
        {0xF1, {"clear", "Profile1.png"}},       {0xF3, {"clear", "Profile3.png"}},
        {0xF8, {"clear", "Mode_Game.png"}},      {0xFE, {"clear", "Pulse.png"}},
        {0xB5, {"clear", "Multi_Netxtrack.png"}}, {0xCD, {"clear", "Multi_Pause.png"}},
        {0xF4, {"clear"}},                        {0x1F1, {"clear"}},
        {241 - 256, {"clear"}},                   {kOsdNoImage, {"clear"}},
    };
    FakeHost host;
    ShowMsgView view(host);
    RecordingCanvas fresh;
    view.drawRect(fresh);
    EXPECT_EQ(fresh.drawn, std::vector<std::string>{"clear"});
    for (const Case& c : cases) {
        view.setShowImgTag(c.code);
        RecordingCanvas canvas;
        view.drawRect(canvas);
        EXPECT_EQ(canvas.drawn, c.drawn) << std::hex << c.code;
    }
    view.setShowStr("caption");
    view.setShowImgTag(0xB7);
    RecordingCanvas canvas;
    view.drawRect(canvas);
    EXPECT_EQ(canvas.drawn, (std::vector<std::string>{"clear", "text caption", "Multi_Stop.png"}));
    EXPECT_EQ(OsdPictureTableByKey().size(), 14u);
}

TEST(OsdView, CountdownClosesSixTicksAfterTheLastCodeOnTheRunningTimer) {
    struct Case { std::vector<unsigned> codesAt; std::vector<unsigned> hiddenAt; int timerStarts; };
    const Case cases[] = {
        {{0}, {3000}, 1},
        {{0, 1200}, {4000}, 1},       // the count resets, the timer keeps its phase
        {{0, 500, 2999}, {5500}, 1},
        {{0, 4000}, {3000, 7000}, 2},  // after closing, a code starts a new countdown
    };
    for (const Case& c : cases) {
        FakeHost host;
        ShowMsgView view(host);
        EXPECT_TRUE(view.isStop());
        for (unsigned at : c.codesAt) {
            host.advanceTo(at);
            view.setShowImgTag(0xF2);
            EXPECT_FALSE(view.isStop());
        }
        host.advanceTo(20000);
        EXPECT_EQ(host.hiddenAt, c.hiddenAt) << "first code at 0, codes: " << c.codesAt.size();
        EXPECT_EQ(host.starts, c.timerStarts);
        EXPECT_TRUE(view.isStop());
        EXPECT_EQ(host.timer, 0u);
    }
}

class FakeFrame : public custumwindow::Frame {
public:
    OsdRect frame() const override { return window; }
    OsdRect visibleFrame() const override { return {0, 30, 1000, 770}; }
    void setFrameOrigin(OsdPoint origin) override {
        window.x = origin.x;
        window.y = origin.y;
        ++moves;
    }
    OsdRect window{300, 400, 200, 130};
    int moves = 0;
};

TEST(OsdWindowDrag, FollowsTheMouseButKeepsTheTopEdgeInTheWorkArea) {
    struct Case { bool draggable; OsdPoint down, drag; OsdPoint origin; int moves; };
    const Case cases[] = {
        {true, {10, 10}, {60, 5}, {350, 395}, 1},
        {true, {10, 10}, {10, -500}, {300, 30}, 1},      // clamped at the top of the work area
        {true, {100, 60}, {-900, 900}, {-700, 1240}, 1},  // other edges are not limited
        {false, {10, 10}, {60, 60}, {300, 400}, 0},
    };
    for (const Case& c : cases) {
        FakeFrame frame;
        custumwindow window(frame, {0, 0, kOsdWindowWidth, kOsdWindowHeight});
        if (c.draggable) window.SetCanDragWindow(true);
        else window.setBCanDragWindow(false);
        window.mouseDown(c.down);
        if (c.draggable) {
            EXPECT_EQ(window.initialLocation(), c.down);
        }
        window.mouseDragged(c.drag);
        EXPECT_EQ((OsdPoint{frame.window.x, frame.window.y}), c.origin) << (&c - cases);
        EXPECT_EQ(frame.moves, c.moves) << (&c - cases);
    }
}

TEST(OsdInput, OneDecimalCodePerLine) {
    struct Case { const char* line; std::optional<int> code; };
    const Case cases[] = {
        {"241\n", 241},   {"  -1 \r\n", -1},   {"\t0", 0},       {"2147483647", 2147483647},
        {"", {}},         {"\n", {}},          {"0xf1", {}},     {"12 13", {}},
        {"+5", {}},       {"- 5", {}},         {"abc", {}},      {"2147483648", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseOsdCodeLine(c.line), c.code) << '"' << c.line << '"';
}

TEST(OsdPictures, EveryPictureIsAPngThatFitsTheWindow) {
    qz5_osd_pictures_register_resource();  // as qz5-osd does at start
    for (const OsdPictureEntry& entry : OsdPictureEntries()) {
        const std::string path = std::string(kOsdResourcePrefix) + entry.name;
        GBytes* bytes = g_resources_lookup_data(path.c_str(), G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
        ASSERT_NE(bytes, nullptr) << path;
        gsize size = 0;
        const auto* png = static_cast<const unsigned char*>(g_bytes_get_data(bytes, &size));
        ASSERT_GE(size, 24u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(png) + 1, 3), "PNG") << path;
        auto be32 = [&](int at) { return png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3]; };
        EXPECT_LE(be32(16), kOsdWindowWidth) << path;  // IHDR width, height
        EXPECT_LE(be32(20), kOsdWindowHeight) << path;
        EXPECT_GT(be32(16) * be32(20), 0) << path;
        g_bytes_unref(bytes);
    }
    qz5_osd_pictures_unregister_resource();
}

// The daemon's side: finds qz5-osd in the build tree, starts it, and hears
// that it had no display.
TEST(OsdHelperProcess, ReportsAHelperWithoutADisplay) {
    ScopedLogCapture log;
    const std::string display = g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "";
    g_unsetenv("DISPLAY");
    SetOsdDisplay(nullptr);
    CurrentOsdDisplay().Show(0xF1);
    const char* expected = "qz5-osd exited with status 3 (no display to show it on)";
    bool late = false;  // set at the deadline, 20 s on
    const guint timer = g_timeout_add_seconds(
        20, [](gpointer l) -> gboolean { return *static_cast<bool*>(l) = true, G_SOURCE_REMOVE; }, &late);
    while (!log.Contains(expected) && !late) g_main_context_iteration(nullptr, TRUE);
    if (!late) g_source_remove(timer);
    if (!display.empty()) g_setenv("DISPLAY", display.c_str(), TRUE);
    EXPECT_TRUE(log.Contains(expected)) << (log.lines.empty() ? "nothing logged" : log.lines.back());
}

}  // namespace
