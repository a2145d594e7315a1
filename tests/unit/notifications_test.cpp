// The settings application's side: the reading of received values, what a
// settings change reloads, and what is observed (every change type, the
// status reply and the relays are driven end to end by the system tests).
#include <cmath>
#include <fstream>
#include <limits>

#include "daemon/application.hpp"
#include "platform/osd.hpp"
#include "tests/support/keyboard_fixture.hpp"

namespace {

TEST(UserInfoReading, EveryValueTypeReadsAsOneInt) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        UserInfoValue value;
        int expected;
    } rows[] = {
        {int64_t{-3}, -3},
        {int64_t{1} << 40, 2147483647},  // integers are clamped, never wrapped
        {-(int64_t{1} << 40), -2147483647 - 1},
        {uint64_t{1} << 63, 2147483647},
        {2.9, 2},  // doubles truncate toward zero
        {-2.9, -2},
        {1e300, 2147483647},
        {nan, 0},
        {true, 1},
        {false, 0},
        {std::string(" \t 42abc"), 42},  // a string's leading decimal integer
        {std::string("-7"), -7},
        {std::string("x1"), 0},
        {std::string("99999999999999999999"), 2147483647},
        {std::monostate{}, 0},  // any other type
    };
    for (const auto& r : rows) {
        const UserInfo info{{"k", r.value}};
        EXPECT_EQ(ReadUserInfoInt(info, "k"), r.expected) << UserInfoValueText(r.value);
        EXPECT_EQ(ReadUserInfoBool(info, "k"), r.expected != 0) << UserInfoValueText(r.value);
    }
    EXPECT_EQ(ReadUserInfoInt({}, "absent"), 0);
}

class DaemonNotifications : public KeyboardTest {
protected:
    void SetUp() override {
        KeyboardTest::SetUp();
        setenv("QZ5_SETTINGS_FILE", settings.c_str(), 1);
        keyboard = bus.AddDevice();
        bus.SetReply(keyboard, 0x15, {2});
        bus.SetReply(keyboard, 0x04, {0, 7});
        SetOsdDisplay(&osd);
        prefs.reset();  // the daemon makes its own, the one settings reader of the process
        ASSERT_EQ(app->WireUp(center), 0);
        bus.requests.clear();  // the reset
    }
    void TearDown() override {
        app->Terminate();
        SetOsdDisplay(nullptr);
        KeyboardTest::TearDown();
    }
    std::vector<std::string> Sent() {
        std::vector<std::string> lines;
        for (const auto& r : bus.requests) lines.push_back(r.Line().substr(0, 23));
        bus.requests.clear();
        return lines;
    }
    void Change(UserInfo info) { EXPECT_EQ(center.Deliver("PellQZ5", "QZ5SettingChange", info), 1); }

    std::string settings = dir.File("Setting.xml");
    int keyboard = 0;
    RecordingOsdDisplay osd;
    RecordingNotificationCenter center;
    Application* app = Application::GetApp();
};

// That the requests follow the edited file is qz5ctl's --apply system test.
TEST_F(DaemonNotifications, AFullDownloadSavesOnlyWhenAskedAndEveryChangeReloadsTheFile) {
    const char* gameOn = "<plist version=\"1.0\"><dict><key>GAME_MODE</key><integer>1</integer></dict></plist>";
    std::ofstream(settings) << gameOn;
    Change({{"QZ5SettingChangeType", int64_t{1}}, {"ProfileNumber", int64_t{2}}, {"isSave", true}});
    const auto full = Sent();
    ASSERT_EQ(full.size(), 11u);
    EXPECT_EQ(full[8], "40 02 03 00 00 00 00 00");  // game mode, from the file
    EXPECT_EQ(full.back(), "40 03 00 00 00 00 00 00");
    Change({{"QZ5SettingChangeType", int64_t{1}}, {"ProfileNumber", int64_t{0}}});
    EXPECT_EQ(Sent().size(), 10u);  // no save without isSave

    std::remove(settings.c_str());  // reloading gives the factory defaults
    Change({{"QZ5SettingChangeType", int64_t{3}}});
    EXPECT_EQ(Sent().size(), 4u);
    EXPECT_EQ(m_Config.GAME_MODE, 0u);
    // A bad profile sends nothing, yet the file was reloaded.
    std::ofstream(settings) << gameOn;
    Change({{"QZ5SettingChangeType", int64_t{1}}, {"ProfileNumber", int64_t{3}}});
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(m_Config.GAME_MODE, 1u);
}

TEST_F(DaemonNotifications, OnlyTheSettingsApplicationsRequestsAreObserved) {
    EXPECT_EQ(center.Deliver("PellQZ5Check", "GetDeviceStatue", {{"junk", int64_t{1}}}), 1);
    ASSERT_EQ(center.posted.size(), 1u);
    EXPECT_EQ(center.posted[0].object, "RecDeviceStatue");
    // The daemon's own posts never come back to it.
    EXPECT_EQ(center.Deliver("PellQZ5", "QZ5ProfileChange", {}), 0);
    EXPECT_EQ(center.Deliver("PellQZ5", "GetDeviceStatue", {}), 0);
}

}  // namespace
