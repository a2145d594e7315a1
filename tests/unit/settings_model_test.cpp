// The settings window's pending changes: refused in the editing library's
// words, shown before they are written, written all at once, and posted in
// the order that leaves the keyboard on the selected profile.
#include <gtest/gtest.h>

#include <fstream>

#include "app/settings_model.hpp"
#include "platform/file_io.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using Posts = std::vector<std::vector<std::string>>;

TEST(SettingsModel, PendingChangesAreShownThenWrittenAndPostedInOrder) {
    TempDir dir;
    SettingsModel m(dir.File("Setting.xml"));
    ASSERT_TRUE(m.Reload().ok());  // no file yet: the factory defaults
    EXPECT_EQ(m.Set("x", {"2", "key", "CapsLok", "Escape"}).error(),
              "no key of the keyboard named 'CapsLok' (did you mean CapsLock?); qz5ctl keys lists the names");
    EXPECT_FALSE(m.Set("x", {"light", "style", "5"}).ok());
    EXPECT_TRUE(m.PendingChanges().empty());

    // Listed in the order made; a second change of one slot replaces the first.
    ASSERT_TRUE(m.Set("profile", {"profile", "3"}).ok());
    ASSERT_TRUE(m.Set("game", {"game", "on"}).ok());
    ASSERT_TRUE(m.Set("caps", {"2", "key", "CapsLock", "F1"}).ok());
    ASSERT_TRUE(m.Set("caps", {"2", "key", "CapsLock", "Escape"}).ok());
    ASSERT_TRUE(m.Set("light", {"light", "style", "2"}).ok());
    ASSERT_TRUE(m.Set("t3", {"2", "T3", "launch", "/usr/bin/true"}).ok());
    ASSERT_EQ(m.PendingChanges().size(), 5u);
    EXPECT_EQ(m.PendingChanges()[2].description, "2 key CapsLock Escape");
    EXPECT_EQ(m.Shown().PROFILE[1].KEY[57], 53u + 1);  // CapsLock's row
    EXPECT_EQ(m.Saved().PROFILE[1].KEY[57], 57u + 1);  // its own
    EXPECT_FALSE(std::ifstream(m.Path()).good());

    auto posts = m.Apply(false);
    ASSERT_TRUE(posts.ok()) << posts.error();
    EXPECT_EQ(*posts, (Posts{{"apply", "2"}, {"game", "on"}, {"lighting"}, {"select", "3"}}));
    EXPECT_TRUE(m.PendingChanges().empty());
    auto file = LoadSettingsFile(m.Path());
    ASSERT_TRUE(file.ok());
    EXPECT_EQ((*file)->PROFILE[1].KEY[57], 53u + 1);
    EXPECT_STREQ((*file)->PROFILE[1].TKEYINFO[2].LAUNCHPATH, "/usr/bin/true");
    EXPECT_EQ((*file)->PROFILE_ID, 2u);

    // Saving: every profile sent is saved; without one, the keyboard is told to save.
    ASSERT_TRUE(m.Set("t3", {"1", "T3", "none"}).ok());
    EXPECT_EQ(*m.Apply(true), (Posts{{"apply", "1", "--save"}}));
    ASSERT_TRUE(m.Set("light", {"light", "wasd", "on"}).ok());
    EXPECT_EQ(*m.Apply(true), (Posts{{"lighting"}, {"save"}}));
}

TEST(SettingsModel, ARefusalAtApplyLeavesTheFileAndTheChanges) {
    TempDir dir;
    SettingsModel m(dir.File("Setting.xml"));
    ASSERT_TRUE(m.Reload().ok());
    ASSERT_TRUE(m.Set("name", {"1", "T1", "name", "kept"}).ok());
    ASSERT_TRUE(m.Apply(false).ok());
    std::string before;
    ASSERT_TRUE(ReadWholeFile(m.Path(), before));
    // Every key a full-length macro: far more than the keyboard's macro memory.
    m.SetEdit("macros", "every key a long macro", {[](_QZ5_CONFIG& rec) {
                                                      for (auto& k : rec.PROFILE[2].TKEYINFO) {
                                                          k.FUNCID = 2;
                                                          k.MACRO.LENGTH = kMacroStepMax;
                                                          for (auto& step : k.MACRO.KEYMAP) step = {5, 1};
                                                      }
                                                  },
                                                  2, {}});
    auto posts = m.Apply(true);
    ASSERT_FALSE(posts.ok());
    EXPECT_NE(posts.error().find("profile 3's keys would take"), std::string::npos) << posts.error();
    EXPECT_NE(posts.error().find("nothing changed"), std::string::npos) << posts.error();
    std::string after;
    ASSERT_TRUE(ReadWholeFile(m.Path(), after));
    EXPECT_EQ(after, before);
    EXPECT_EQ(m.PendingChanges().size(), 1u);
}

}  // namespace
