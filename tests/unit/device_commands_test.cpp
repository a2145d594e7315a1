// Device commands: setup packets, function codes and the lighting encoding.
#include "tests/support/keyboard_fixture.hpp"

namespace {

using CommandsTest = KeyboardTest;

TEST_F(CommandsTest, SetupPackets) {
    bus.AddDevice();
    prefs->ResetDevice();
    prefs->SendProfileid(3);
    prefs->SendWorkMode(3);
    m_Config.PROFILE[2].INSTANT_SHIFT = {3, 1};  // previous Shift, next Alt
    prefs->SendAltermateProfilePro(2);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"40 01 00 00 00 00 00 00", "40 14 03 00 00 00 00 00",
                                                 "40 02 03 00 00 00 00 00", "40 1a e2 e1 00 00 00 00"}));
    for (auto [selector, usage] : {std::pair{0, 0x00}, {1, 0xE2}, {2, 0xE0}, {3, 0xE1}, {4, 0x00}, {-1, 0x00}})
        EXPECT_EQ(prefs->getAlterKeyCode(selector), usage) << selector;  // the instant-shift modifiers
    for (auto [funcId, code] : {std::pair{0u, 0x00u}, {1u, 0x10u}, {2u, 0x20u}, {3u, 0x11u}, {4u, 0x00u}, {~0u, 0x00u}})
        EXPECT_EQ(prefs->GetDeviceFuncID(funcId), code) << funcId;  // the function codes
}

TEST_F(CommandsTest, LightZoneEncoding) {
    bus.AddDevice();
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
        EXPECT_EQ(Lines(), std::vector<std::string>{c.line}) << c.zone << " " << c.on << " " << c.style;
    }
}

}  // namespace
