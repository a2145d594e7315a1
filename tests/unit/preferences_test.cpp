// Preferences: loading at construction (reloads are checked where a settings
// change makes them; the function-code table with the device commands).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "keyboard/preferences.hpp"
#include "testing/log_capture.hpp"
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

TEST(PreferencesTest, ATildePathIsInTheHomeOfTheUserRunning) {
    const char* saved = std::getenv("HOME");
    const std::string home = saved ? saved : "";
    setenv("HOME", "/home/ann", 1);
    for (const auto& [configured, used] : std::vector<std::pair<std::string, std::string>>{
             {"~/.config/qz5/Setting.xml", "/home/ann/.config/qz5/Setting.xml"},
             {"~ann/Setting.xml", "~ann/Setting.xml"},  // only the running user's own home
             {"/srv/~/Setting.xml", "/srv/~/Setting.xml"}}) {
        setenv("QZ5_SETTINGS_FILE", configured.c_str(), 1);
        EXPECT_EQ(SettingsFilePath(), used);
    }
    unsetenv("HOME");  // then the passwd entry's home
    setenv("QZ5_SETTINGS_FILE", "~/Setting.xml", 1);
    EXPECT_TRUE(SettingsFilePath().starts_with("/")) << SettingsFilePath();
    unsetenv("QZ5_SETTINGS_FILE");
    if (saved) setenv("HOME", home.c_str(), 1);
}

}  // namespace
