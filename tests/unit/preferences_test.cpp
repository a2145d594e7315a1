// Preferences: loading at construction, the function-code table (reloads are
// checked where a settings change makes them).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "keyboard/preferences.hpp"
#include "platform/log_capture.hpp"
#include "tests/support/config_helpers.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("QZ5_SETTINGS_FILE", path.c_str(), 1);
        std::memset(&m_Config, 0, sizeof m_Config);
    }
    void TearDown() override { unsetenv("QZ5_SETTINGS_FILE"); }
    TempDir dir;
    std::string path = dir.File("Setting.xml");
};

TEST_F(PreferencesTest, ConstructionLoadsAndDestructionReleasesWithTheirLogLines) {
    ScopedLogCapture log;
    {
        Preferences prefs;
        EXPECT_EQ(xmlconfig::ConfigfileName(), path);
        EXPECT_TRUE(SameRecord(m_Config, *DefaultRecord()));
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_EQ(log.lines, std::vector<std::string>{"m_pXMLconfig 加载 "});
    }
    EXPECT_EQ(log.lines.back(), "m_pXMLconfig Release ");
    EXPECT_EQ(m_pXMLconfig, nullptr);
}

TEST_F(PreferencesTest, DeviceFunctionCodes) {
    ScopedLogCapture log;
    Preferences prefs;
    const std::pair<uint32_t, uint32_t> table[] = {{0, 0x00}, {1, 0x10}, {2, 0x20}, {3, 0x11},
                                                   {4, 0x00}, {0xFFFFFFFFu, 0x00}};
    for (auto [funcId, code] : table) EXPECT_EQ(prefs.GetDeviceFuncID(funcId), code) << funcId;
}

}  // namespace
