// Reading the settings file: value conversions, structure, and files that
// cannot be read at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>

#include "config/qz5_config.hpp"
#include "config/xmlconfig.hpp"
#include "platform/file_io.hpp"
#include "tests/support/config_helpers.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

class ReadTest : public ::testing::Test {
protected:
    void SetUp() override { std::memset(&m_Config, 0, sizeof m_Config); }
    // Loads a file whose root dictionary holds body; expects it to be read.
    void Load(const std::string& body) {
        WriteText(path, Plist(body));
        ASSERT_TRUE(LoadFile(path)) << body;
    }
    TempDir dir;
    std::string path = dir.File("Setting.xml");
};

struct IntCase {
    const char* value;
    uint32_t expected;
};

TEST_F(ReadTest, IntegerEntriesConvertByTheReadingRules) {
    const IntCase cases[] = {
        {"<integer>7</integer>", 7},
        {"<integer>010</integer>", 10},  // decimal, never octal
        {"<integer> 12 </integer>", 12},
        {"<integer>&#x31;2</integer>", 12},
        {"<integer>-1</integer>", 0xFFFFFFFFu},
        {"<integer>4294967297</integer>", 1},  // beyond 32 bits: the low 32 bits
        {"<integer>-4294967297</integer>", 0xFFFFFFFFu},
        {"<integer>99999999999999999999999</integer>", 0xF67FFFFFu},
        {"<integer></integer>", 0},
        {"<real>3.9</real>", 3},  // truncated toward zero
        {"<real>-3.9</real>", 0xFFFFFFFDu},
        {"<real>1e10</real>", 1410065408u},
        {"<real>nan</real>", 0},
        {"<real>inf</real>", 0},
        {"<true/>", 1},
        {"<false/>", 0},
        {"<string>122</string>", 122},
        {"<string> \t\n42abc</string>", 42},  // leading decimal after white space
        {"<string>-5</string>", 0xFFFFFFFBu},
        {"<string>abc 5</string>", 0},
        {"<string></string>", 0},
        {"<dict><key>GAME_MODE</key><integer>5</integer></dict>", 0},
        {"<array><integer>5</integer></array>", 0},
        {"<data>AAAA</data>", 0},
        {"<date>2020-01-01T00:00:00Z</date>", 0},
    };
    for (const auto& c : cases) {
        Load(std::string("<key>GAME_MODE</key>") + c.value);
        EXPECT_EQ(m_Config.GAME_MODE, c.expected) << c.value;
    }
}

TEST_F(ReadTest, TextEntriesFitTheirFieldWithoutSplittingACharacter) {
    struct TextCase {
        std::string value;
        std::string expected;
    };
    const std::string e_acute = "\xC3\xA9";
    const TextCase cases[] = {
        {"<string>/Applications/Calc.app</string>", "/Applications/Calc.app"},
        {"<string>a &amp; b &lt;c&gt;</string>", "a & b <c>"}, {"<string><![CDATA[x<y]]></string>", "x<y"},
        {"<string> </string>", " "}, {"<string>line1\nline2&#13;</string>", "line1\nline2\r"},
        {"<string>" + std::string(300, 'x') + "</string>", std::string(255, 'x')},
        {"<string>" + std::string(254, 'x') + e_acute + "</string>", std::string(254, 'x')},
        {"<string>" + std::string(253, 'x') + e_acute + "</string>", std::string(253, 'x') + e_acute},
        {"<integer>5</integer>", ""}, {"<dict/>", ""},
    };
    for (const auto& c : cases) {
        std::memset(&m_Config, 0x55, sizeof m_Config);
        Load("<key>PROFILE_2</key><dict><key>TKEYINFO_3</key><dict><key>LAUNCHPATH</key>" + c.value +
             "<key>MACRO</key><dict><key>MACRONAME</key>" + c.value + "</dict></dict></dict>");
        const _TKEY_INFO& k = m_Config.PROFILE[1].TKEYINFO[2];
        EXPECT_EQ(std::string(k.LAUNCHPATH), c.expected) << c.value;
        EXPECT_EQ(std::string(k.MACRO.MACRONAME), c.expected) << c.value;
        // Everything after the text is cleared, not left from before.
        const size_t n = std::strlen(k.LAUNCHPATH);
        EXPECT_EQ(std::string(k.LAUNCHPATH + n, kTextSize - n), std::string(kTextSize - n, '\0')) << c.value;
    }
    Load("<key>PROFILE_1</key><dict><key>TKEYINFO_1</key><dict></dict></dict>");
    EXPECT_STREQ(m_Config.PROFILE[0].TKEYINFO[0].LAUNCHPATH, "");  // missing text reads empty
}

TEST_F(ReadTest, EntriesLandWhereTheirKeysSay) {
    Load(R"(<key>PROFILE_ID</key><integer>2</integer>
        <key>LIGHT_OPTION</key><dict><key>LIGHT_STYLE</key><integer>4</integer>
          <key>WASDLIGHT</key><integer>1</integer><key>PELLFLAGLIGHT</key><integer>9</integer></dict>
        <key>PROFILE_1</key><dict>
          <key>KEY_1</key><integer>54</integer>
          <key>KEY_7</key><string>122</string>
          <key>KEY_160</key><integer>9</integer>
          <key>KEY_161</key><integer>8</integer>
          <key>KEY_02</key><integer>8</integer>
          <key>TKEYINFO_1</key><dict><key>FUNCID</key><integer>1</integer>
            <key>SINGLE_KEYCODE</key><integer>0</integer><key>MAPKEY_KEYCODE</key><integer>40</integer></dict>
          <key>TKEYINFO_2</key><dict><key>FUNCID</key><integer>3</integer></dict>
          <key>MAPPINGKEYINFO_8</key><dict><key>MAPKEY_KEYCODE</key><integer>37</integer></dict>
          <key>INSTANT_SHIFT</key><dict><key>PREKEY</key><integer>3</integer><key>NEXTKEY</key><integer>1</integer></dict>
        </dict>
        <key>PROFILE_3</key><dict><key>KEY_1</key><integer>77</integer></dict>
        <key>PROFILE_4</key><dict><key>KEY_1</key><integer>66</integer></dict>)");
    const _QZ5_PROFILE& p0 = m_Config.PROFILE[0];
    const auto& light = m_Config.LIGHT_OPTION;
    const std::pair<uint32_t, uint32_t> read[] = {  // {field, expected}, numbered from 0 in failure messages
        {m_Config.PROFILE_ID, 2}, {light.LIGHT_STYLE, 4}, {light.WASDLIGHT, 1}, {light.DIRECTLIGHT, 0},
        {light.PELLFLAGLIGHT, 9}, {p0.KEY[0], 54}, {p0.KEY[1], 0} /* "KEY_02" is not slot 2 */, {p0.KEY[6], 122},
        {p0.KEY[159], 9}, {p0.TKEYINFO[0].FUNCID, 1}, {p0.TKEYINFO[0].MAPKEY_KEYCODE, 40},
        {p0.TKEYINFO[1].FUNCID, 3}, {p0.TKEYINFO[1].MAPKEY_KEYCODE, 0} /* nothing carries over between keys */,
        {p0.MAPPINGKEYINFO[7].MAPKEY_KEYCODE, 37}, {p0.INSTANT_SHIFT.PREKEY, 3}, {p0.INSTANT_SHIFT.NEXTKEY, 1},
        {m_Config.PROFILE[1].KEY[0], 0} /* missing dictionary reads 0 */, {m_Config.PROFILE[2].KEY[0], 77},
    };
    for (size_t i = 0; i < std::size(read); ++i) EXPECT_EQ(read[i].first, read[i].second) << "entry " << i;
    Load("<key><![CDATA[GAME_MODE]]></key><integer>4</integer><key>PROFILE_<!-- c -->ID</key><integer>1</integer>");
    EXPECT_EQ(m_Config.GAME_MODE, 4u);  // however a key's text is written
    EXPECT_EQ(m_Config.PROFILE_ID, 1u);
    // Character data between a key and its value is skipped.
    Load(R"(<key>GAME_MODE</key>stray<integer>5</integer>
        <key>PROFILE_1</key><![CDATA[x]]><dict><key>KEY_1</key>7<integer>9</integer>
          <key>TKEYINFO_1</key><dict><key>LAUNCHPATH</key>a<string>/bin/x</string></dict></dict>)");
    EXPECT_EQ(m_Config.GAME_MODE, 5u);
    EXPECT_EQ(m_Config.PROFILE[0].KEY[0], 9u);
    EXPECT_STREQ(m_Config.PROFILE[0].TKEYINFO[0].LAUNCHPATH, "/bin/x");
}

TEST_F(ReadTest, ValuesTheRecordCannotHoldAreBroughtIntoRange) {
    Load("<key>PROFILE_ID</key><integer>3</integer>");
    EXPECT_EQ(m_Config.PROFILE_ID, 0u);
    Load("<key>PROFILE_ID</key><integer>-1</integer>");
    EXPECT_EQ(m_Config.PROFILE_ID, 0u);
    Load(R"(<key>PROFILE_1</key><dict><key>TKEYINFO_1</key><dict><key>MACRO</key><dict>
          <key>LENGTH</key><integer>100000</integer>
          <key>KEYMAP_5440</key><dict><key>KEYCODE</key><integer>5</integer></dict>
          <key>KEYMAP_5441</key><dict><key>KEYCODE</key><integer>6</integer></dict>
        </dict></dict></dict>)");
    const _MACRO_INFO& m = m_Config.PROFILE[0].TKEYINFO[0].MACRO;
    EXPECT_EQ(m.LENGTH, 5440u);
    EXPECT_EQ(m.KEYMAP[5439].KEYCODE, 5u);
}

TEST_F(ReadTest, StepsAreReadUpToLengthAndStepsBeyondKeepTheirValues) {
    m_Config.PROFILE[0].TKEYINFO[0].MACRO.KEYMAP[3] = {99, 98};
    Load(R"(<key>PROFILE_1</key><dict><key>TKEYINFO_1</key><dict><key>FUNCID</key><integer>2</integer>
        <key>MACRO</key><dict><key>LENGTH</key><integer>3</integer>
          <key>KEYMAP_1</key><dict><key>KEYCODE</key><integer>5</integer><key>KEYFLAG</key><integer>1</integer></dict>
          <key>KEYMAP_3</key><dict><key>KEYCODE</key><integer>255</integer><key>KEYFLAG</key><integer>1000</integer></dict>
          <key>KEYMAP_3</key><dict><key>KEYCODE</key><integer>255</integer><key>KEYFLAG</key><integer>2000</integer></dict>
          <key>KEYMAP_4</key><dict><key>KEYCODE</key><integer>7</integer></dict>
          <key>KEYMAP_5</key><dict><key>KEYCODE</key><integer>8</integer></dict>
        </dict></dict></dict>)");
    const _MACRO_INFO& m = m_Config.PROFILE[0].TKEYINFO[0].MACRO;
    EXPECT_EQ(m.LENGTH, 3u);
    EXPECT_EQ(m.KEYMAP[0].KEYCODE, 5u);
    EXPECT_EQ(m.KEYMAP[0].KEYFLAG, 1u);
    EXPECT_EQ(m.KEYMAP[1].KEYCODE, 0u);  // missing step below LENGTH
    EXPECT_EQ(m.KEYMAP[2].KEYFLAG, 2000u);  // the later of two equal keys
    EXPECT_EQ(m.KEYMAP[3].KEYCODE, 99u);  // beyond LENGTH: untouched
    EXPECT_EQ(m.KEYMAP[4].KEYCODE, 0u);
}

TEST_F(ReadTest, UnreadableFilesGiveTheFactoryDefaultsAndStayAsTheyWere) {
    auto nested = [](int depth) {
        std::string s;
        for (int i = 0; i < depth; ++i) s += "<array>";
        for (int i = 0; i < depth; ++i) s += "</array>";
        return s;
    };
    const std::string valid = Plist("<key>GAME_MODE</key><integer>1</integer>");
    const std::string cases[] = {
        "",
        "not xml at all",
        valid.substr(0, valid.size() / 2),  // truncated
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><integer>1</integer></array></plist>",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><string>x</string></plist>",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/><dict/></plist>",
        "<?xml version=\"1.0\"?><dict><key>GAME_MODE</key><integer>1</integer></dict>",
        std::string("bplist00\xd1\x01\x02", 11),
        Plist("<key>GAME_MODE</key>"),  // a key without its value
        Plist("<key>GAME_MODE</key><integer>1</integer><integer>2</integer>"),
        Plist("<key>GAME_MODE</key><blob>1</blob>"),
        Plist("<key>GAME_MODE</key><integer><integer>1</integer></integer>"),
        Plist("<key>A</key><array><key>B</key></array>"),
        Plist("<key>GAME_MODE</key>" + nested(200000)),
    };
    const auto defaults = DefaultRecord();
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string& text = cases[i];
        SCOPED_TRACE("case " + std::to_string(i));
        std::memset(&m_Config, 0x5A, sizeof m_Config);
        WriteText(path, text);
        EXPECT_FALSE(LoadFile(path)) << text.substr(0, 80);
        EXPECT_TRUE(SameRecord(m_Config, *defaults)) << text.substr(0, 80);
        EXPECT_TRUE(ReadText(path) == text) << "the file changed";
    }
    // Nesting as deep as any reasonable file has is still read.
    WriteText(path, Plist("<key>X</key>" + nested(60) + "<key>GAME_MODE</key><integer>3</integer>"));
    EXPECT_TRUE(LoadFile(path));
    EXPECT_EQ(m_Config.GAME_MODE, 3u);
}

TEST_F(ReadTest, PathsThatAreNoRegularFileGiveDefaultsPromptly) {
    const std::string fifo = dir.File("fifo.xml");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& p : {dir.File("absent.xml"), dir.File("no/such/folder.xml"), dir.path().string(), fifo,
                                 std::string("/dev/null"), std::string("/dev/zero")}) {
        std::memset(&m_Config, 0x11, sizeof m_Config);
        auto load = std::async(std::launch::async, [&] { return LoadFile(p); });
        if (load.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
            ADD_FAILURE() << p << ": still loading after 10 s";
            // A reader blocked in open() on the FIFO wakes once a writer appears.
            close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
        }
        EXPECT_FALSE(load.get()) << p;
        EXPECT_TRUE(SameRecord(m_Config, *DefaultRecord())) << p;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("absent.xml")));
}

TEST_F(ReadTest, FilesAreReadUpToTheSizeLimit) {
    for (const uint64_t size : {kMaxReadBytes, kMaxReadBytes + 1}) {
        WriteText(path, "");
        std::filesystem::resize_file(path, size);  // sparse: no disk space, and the pages read back as zeros
        std::string out;
        EXPECT_EQ(ReadWholeFile(path, out), size == kMaxReadBytes) << size;
        EXPECT_EQ(out.size(), size == kMaxReadBytes ? size : 0u) << size;
    }
}

TEST(GetSubString, SplitsOnCommasThatFollowEachToken) {
    size_t pos = 0;
    const std::string src = "a,bc,,d";
    EXPECT_EQ(xmlconfig::GetSubString(&pos, src), "a");
    EXPECT_EQ(xmlconfig::GetSubString(&pos, src), "bc");
    EXPECT_EQ(xmlconfig::GetSubString(&pos, src), "");
    EXPECT_EQ(pos, 6u);
    EXPECT_EQ(xmlconfig::GetSubString(&pos, src), std::nullopt);  // "d" has no comma after it
    pos = 7;
    EXPECT_EQ(xmlconfig::GetSubString(&pos, src), std::nullopt);
}

}  // namespace
