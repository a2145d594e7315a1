// The factory defaults and the writer: round trips, what the file holds, and
// atomic replacement.
#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "config/qz5_config.hpp"
#include "config/xmlconfig.hpp"
#include "testing/log_capture.hpp"
#include "tests/support/config_helpers.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

void RandomKey(std::mt19937& rng, _TKEY_INFO& k, uint32_t length) {
    k.FUNCID = rng();
    SetText(k.LAUNCHPATH, RandomText(rng, 255));
    k.SINGLE_KEYCODE = rng();
    k.MAPKEY_KEYCODE = rng() % 2 ? 0xFFFFFFFFu : rng();
    SetText(k.MACRO.MACRONAME, RandomText(rng, 255));
    k.MACRO.LENGTH = length;
    k.MACRO.REPEAT_OPTION = rng();
    k.MACRO.REPEAT_TIMES = 0x80000000u;
    for (uint32_t i = 0; i < length; ++i) k.MACRO.KEYMAP[i] = {static_cast<uint32_t>(rng()), static_cast<uint32_t>(rng())};
}

class WriteTest : public ::testing::Test {
protected:
    void SetUp() override { std::memset(&m_Config, 0, sizeof m_Config); }
    TempDir dir;
    std::string path = dir.File("Setting.xml");
};

TEST_F(WriteTest, ProfileResetAndFactoryDefaultsMakeEveryKeyProduceItself) {
    std::mt19937 rng(7);
    for (auto& p : m_Config.PROFILE) {
        for (auto& k : p.KEY) k = rng();
        RandomKey(rng, p.TKEYINFO[0], 3);
        p.INSTANT_SHIFT = {1, 2};
    }
    m_Config.GAME_MODE = 1;
    auto before = std::make_unique<_QZ5_CONFIG>(m_Config);
    xmlconfig().InitialProfile(1);  // resets only that profile's key table
    const uint32_t* keys = m_Config.PROFILE[1].KEY;
    for (int k = 0; k < kKeySlotCount; ++k) EXPECT_EQ(keys[k], StdKeyInfo[k].vkey + 1);
    for (auto [slot, code] : {std::pair{0, 54u}, {58, 1u}, {93, 50u}, {29, 52u}})  // Escape, A, Space, Delete
        EXPECT_EQ(keys[slot], code) << slot;
    for (int k = 102; k < kKeySlotCount; ++k) EXPECT_EQ(keys[k], 1u);
    std::memcpy(before->PROFILE[1].KEY, keys, sizeof before->PROFILE[1].KEY);
    EXPECT_TRUE(SameRecord(m_Config, *before));
    xmlconfig().InitialProfile(3);  // no such profile: nothing changes
    EXPECT_TRUE(SameRecord(m_Config, *before));

    // The factory defaults: that key table in every profile, zero elsewhere.
    xmlconfig().InitialConfigData();
    auto expected = ZeroRecord();
    for (auto& p : expected->PROFILE) std::memcpy(p.KEY, before->PROFILE[1].KEY, sizeof p.KEY);
    EXPECT_TRUE(SameRecord(m_Config, *expected));
}

TEST_F(WriteTest, RecordRoundTripsThroughTheFileByteForByte) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 4; ++round) {
        auto original = ZeroRecord();
        original->PROFILE_ID = round % 3;  // the reader keeps the profile in range
        original->GAME_MODE = 0xFFFFFFFFu;
        original->LIGHT_OPTION = {static_cast<uint32_t>(rng()), 0xFFFFFFFFu, 0, 1, 0x7FFFFFFFu};
        for (auto& p : original->PROFILE) {
            for (auto& k : p.KEY) k = rng();
            for (auto& t : p.TKEYINFO) RandomKey(rng, t, rng() % 40);
            for (auto& m : p.MAPPINGKEYINFO) RandomKey(rng, m, rng() % 40);
            p.INSTANT_SHIFT = {static_cast<uint32_t>(rng()), 0xFFFFFFFFu};
        }
        if (round == 0) RandomKey(rng, original->PROFILE[2].MAPPINGKEYINFO[7], kMacroStepMax);
        ASSERT_TRUE(WriteSettingsFrom(*original, path));
        std::memset(&m_Config, 0, sizeof m_Config);  // steps beyond LENGTH are not read
        ASSERT_TRUE(LoadFile(path));
        ASSERT_TRUE(SameRecord(m_Config, *original)) << "round " << round << ", first difference at byte "
                                                     << FirstDifference(m_Config, *original);
    }
}

TEST_F(WriteTest, FileHoldsTheFormatsKeysAndValueKinds) {
    auto rec = DefaultRecord();
    rec->GAME_MODE = 0xFFFFFFFFu;
    _TKEY_INFO& t = rec->PROFILE[0].TKEYINFO[0];
    t.FUNCID = 2;
    std::strcpy(t.LAUNCHPATH, "a\x01\x1F<&>\r\xFF\xC3(b");  // controls and broken UTF-8 dropped
    t.MACRO.LENGTH = 2;
    const std::string xml = SettingsXml(*rec);

    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(xml.c_str()));
    const pugi::xml_node root = doc.child("plist").child("dict");
    ASSERT_TRUE(root);
    EXPECT_NE(xml.find("<key>GAME_MODE</key>\n\t<integer>-1</integer>"), std::string::npos);
    EXPECT_NE(xml.find("<string>a&lt;&amp;&gt;&#13;(b</string>"), std::string::npos);

    // Profile dictionaries: 160 keys, 12 T-keys, 8 mapping keys, instant shift.
    const auto valueOf = [](pugi::xml_node dict, const std::string& key) {
        return dict.select_node(("key[.='" + key + "']/following-sibling::*[1]").c_str()).node();
    };
    const pugi::xml_node profile = valueOf(root, "PROFILE_1");
    EXPECT_EQ(profile.select_nodes("key").size(), 160u + 12 + 8 + 1);
    EXPECT_STREQ(valueOf(profile, "KEY_59").child_value(), "1");

    // A T-key with FUNCID 0 is written in full; its LENGTH-0 macro holds only
    // the four fixed entries, a macro of two steps holds two KEYMAP entries.
    const pugi::xml_node t2 = valueOf(profile, "TKEYINFO_2");
    EXPECT_EQ(t2.select_nodes("key[.='FUNCID' or .='LAUNCHPATH' or .='SINGLE_KEYCODE' or .='MAPKEY_KEYCODE']").size(), 4u);
    EXPECT_EQ(valueOf(t2, "MACRO").select_nodes("key").size(), 4u);
    const pugi::xml_node m1 = valueOf(valueOf(profile, "TKEYINFO_1"), "MACRO");
    EXPECT_EQ(m1.select_nodes("key").size(), 6u);
    EXPECT_TRUE(valueOf(m1, "KEYMAP_2"));
    EXPECT_FALSE(valueOf(m1, "KEYMAP_3"));
}

// Runs fn in a child process without root's right to ignore permissions.
bool AsUnprivilegedChild(const std::function<bool()>& fn) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        _exit(fn() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(WriteTest, FailedWriteKeepsTheOldFileAndSaysSo) {
    WriteText(path, "old contents");
    auto rec = DefaultRecord();

    // Read-only folder.
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    EXPECT_TRUE(AsUnprivilegedChild([&] { return !WriteSettingsFrom(*rec, path); }));
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    EXPECT_EQ(ReadText(path), "old contents");

    // Missing folder, and a target that is a folder: rename fails even for root.
    const std::string folderTarget = dir.File("folder");
    std::filesystem::create_directories(folderTarget + "/inside");
    ScopedLogCapture log;
    xmlconfig writer;
    for (const std::string& target : {dir.File("missing/Setting.xml"), folderTarget}) {
        log.lines.clear();
        xmlconfig::setConfigfileName(target);
        EXPECT_FALSE(writer.WriteConfigFile()) << target;
        EXPECT_EQ(log.lines, std::vector<std::string>{"write fail!"});
    }
    EXPECT_TRUE(std::filesystem::is_directory(folderTarget + "/inside"));
    // No temporary files are left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST_F(WriteTest, ReplacementKeepsThePermissionsOfTheOldFile) {
    WriteText(path, "old");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(WriteSettingsFrom(*DefaultRecord(), path));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    const std::string fresh = dir.File("fresh.xml");
    ASSERT_TRUE(WriteSettingsFrom(*DefaultRecord(), fresh));
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

}  // namespace
