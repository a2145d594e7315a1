// Preferences: loading at construction (reloads are checked where a settings
// change makes them; the function-code table with the device commands).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "keyboard/preferences.hpp"
#include "platform/log_capture.hpp"
#include "tests/support/config_helpers.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

TEST(PreferencesTest, ConstructionLoadsAndDestructionReleasesWithTheirLogLines) {
    TempDir dir;
    const std::string path = dir.File("Setting.xml");
    setenv("QZ5_SETTINGS_FILE", path.c_str(), 1);
    std::memset(&m_Config, 0, sizeof m_Config);
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
    unsetenv("QZ5_SETTINGS_FILE");
}

}  // namespace
