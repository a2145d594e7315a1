// Device commands: setup packets, the lighting encoding and the pacing.
#include "tests/support/keyboard_fixture.hpp"

namespace {

class CommandsTest : public KeyboardTest {
protected:
    void SetUp() override {
        KeyboardTest::SetUp();
        bus.AddDevice();
    }
};

TEST_F(CommandsTest, PlainCommandsAndTheirPause) {
    prefs->ResetDevice();
    prefs->SendWorkMode(3);
    prefs->SendSaveToDevice();
    prefs->SendProfileid(3);
    prefs->SendAltermateProfile(0xE2, 0xE1);
    prefs->SendLight(0x04, 0x01, 0x82);
    EXPECT_EQ(events, (std::vector<std::string>{
                          "40 01 00 00 00 00 00 00", "pause 500000", "40 02 03 00 00 00 00 00",
                          "pause 500000", "40 03 00 00 00 00 00 00", "pause 500000",
                          "40 14 03 00 00 00 00 00", "pause 500000", "40 1a e2 e1 00 00 00 00",
                          "pause 500000", "40 31 04 01 82 00 00 00", "pause 500000"}));
}

TEST_F(CommandsTest, WorkModeAndAlternateProfileComeFromTheRecord) {
    const int selectors[] = {0, 1, 2, 3, 4, -1};
    const uint8_t usages[] = {0x00, 0xE2, 0xE0, 0xE1, 0x00, 0x00};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(prefs->getAlterKeyCode(selectors[i]), usages[i]);

    m_Config.GAME_MODE = 5;
    prefs->SendKBMode();
    m_Config.GAME_MODE = 0;
    prefs->SendKBMode();
    Profile(1).INSTANT_SHIFT = {3, 1};  // PREKEY Shift, NEXTKEY Alt
    prefs->SendAltermateProfilePro(1);
    prefs->SendAltermateProfilePro(0);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"40 02 03 00 00 00 00 00", "40 02 01 00 00 00 00 00",
                                                 "40 1a e2 e1 00 00 00 00", "40 1a 00 00 00 00 00 00"}));
}

TEST_F(CommandsTest, LightZoneEncoding) {
    struct Case { int zone, on, style; const char* line; } cases[] = {
        {0, 1, 0, "40 31 00 00 00 00 00 00"}, {1, 1, 3, "40 31 03 00 01 00 00 00"},
        {2, 1, 4, "40 31 04 01 02 00 00 00"}, {1, 1, 9, "40 31 03 00 01 00 00 00"},
        {0, 1, -1, "40 31 03 00 00 00 00 00"}, {0, 0, 4, "40 31 00 01 80 00 00 00"},
        {2, 0, 2, "40 31 00 00 82 00 00 00"}, {3, 1, 0, "40 31 04 01 03 00 00 00"},
        {3, 0, 4, "40 31 00 00 83 00 00 00"},
    };
    for (const auto& c : cases) {
        bus.requests.clear();
        prefs->SetLightStatus(c.zone, c.on, c.style);
        ASSERT_EQ(bus.requests.size(), 1u);
        EXPECT_EQ(bus.requests[0].Line(), c.line) << c.zone << " " << c.on << " " << c.style;
    }
}

TEST_F(CommandsTest, FourZonesFromTheRecordEachWithTheExtraPause) {
    m_Config.LIGHT_OPTION = {4, 0, 7, 1, 1};  // style 4; WASD off, others on
    prefs->MakeAndSendLightToDevice();
    m_Config.LIGHT_OPTION = {0xFFFFFFFF, 0, 1, 0, 0};  // a style out of range is sent as 3
    prefs->MakeAndSendLightToDevice();
    const std::vector<std::string> lines = {
        "40 31 00 01 80 00 00 00", "40 31 04 01 01 00 00 00", "40 31 04 01 02 00 00 00",
        "40 31 04 01 03 00 00 00", "40 31 00 00 80 00 00 00", "40 31 03 00 01 00 00 00",
        "40 31 00 00 82 00 00 00", "40 31 00 00 83 00 00 00"};
    std::vector<std::string> expected;
    for (const auto& l : lines) expected.insert(expected.end(), {l, "pause 500000", "pause 200000"});
    EXPECT_EQ(events, expected);
}

}  // namespace
