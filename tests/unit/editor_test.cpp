// qz5ctl's settings editor: key names, each edit read back through the
// daemon's loader, show and whole profiles read back, macro text both ways,
// refusals, what survives an edit, concurrent edits.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "keyboard/preferences.hpp"
#include "tests/support/config_helpers.hpp"
#include "tests/support/temp_dir.hpp"
#include "editing/editor.hpp"
#include "editing/macro_text.hpp"
#include "editing/profile_text.hpp"
#include "editing/settings_summary.hpp"
#include "editing/words.hpp"

namespace {

using Args = std::vector<std::string>;

TEST(KeyWords, EveryWordNamesItsKeyAndEveryPrintedNameReadsBack) {
    // The words a Linux user types, against the macOS codes the file stores.
    const std::pair<const char*, uint32_t> typed[] = {
        {"Backspace", 0x33}, {"Del", 0x75},   {"Enter", 0x24},       {"Super", 0x37}, {"win", 0x37},
        {"ALT", 0x3A},       {"AltGr", 0x3D}, {"Menu", 0x6E},        {"Insert", 0x72}, {"PrintScreen", 0x69},
        {"Left", 0x7B},      {"NumLock", 0x47}, {"ForwardDelete", 0x75}, {"backsp", 0x33}, {"caps", 0x39},
        {"0x34", 0x34},      {"0xff", 0xFF},
    };
    for (const auto& [word, code] : typed) EXPECT_EQ(KeyCodeOf(word, false), code) << word;
    for (const auto& k : AllKeyWords()) {
        Args words = k.aliases;
        words.push_back(k.name);
        if (!k.macName.empty()) words.push_back(k.macName);
        for (const auto& w : words) {
            if (std::any_of(AmbiguousKeyWords().begin(), AmbiguousKeyWords().end(), [&](auto& a) { return a.word == w; }))
                continue;
            std::string upper = w;
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_EQ(KeyCodeOf(w, false), k.vkey) << w;
            EXPECT_EQ(KeyCodeOf(upper, false), k.vkey) << upper;
        }
    }
    for (uint32_t code = 0; code < 256; ++code) EXPECT_EQ(KeyCodeOf(KeyName(code), false), code) << KeyName(code);
}

TEST(KeyWords, RefusalsAreOneShortLine) {
    const struct {
        const char* word;
        bool layoutOnly;
        std::string message;
    } cases[] = {
        {"Delete", false, "'Delete' is Backspace in the macOS names and Del on a PC: type Backspace or Del"},
        {"DELETE", true, "'DELETE' is Backspace"},
        {"delet", false, "'delet' could be Backspace or Del (2 keys); qz5ctl keys lists the names"},
        {"ke", false, "'ke' could be KeypadDecimal, KeypadMultiply, KeypadPlus, ... (19 keys)"},
        {"Enter", true, "Enter is not one of the keyboard's keys"},
        {"0x34", true, "0x34 is not one of the keyboard's keys"},
        {"Escpae", true, "no key of the keyboard named 'Escpae' (did you mean Escape?); qz5ctl keys lists the names"},
        {"Supr", false, "no key named 'Supr' (did you mean Super?)"},
        {"xyzzy", false, "no key named 'xyzzy'; qz5ctl keys lists the names"},
    };
    for (const auto& c : cases) {
        try {
            KeyCodeOf(c.word, c.layoutOnly);
            ADD_FAILURE() << c.word;
        } catch (const WordError& e) {
            const std::string m = e.what();
            EXPECT_EQ(m.rfind(c.message, 0), 0u) << m;
            EXPECT_EQ(m.find('\n'), std::string::npos) << m;
            EXPECT_LT(m.size(), 110u) << m;
        }
    }
}

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&m_Config, 0, sizeof m_Config);  // a load keeps the steps past each LENGTH
        ASSERT_TRUE(WriteSettingsFrom(*DefaultRecord(), file));
    }
    int Edit(Args args) {
        args.insert(args.begin(), {"--file", file});
        return RunEditorCommand(args);
    }
    TempDir dir;
    std::string file = dir.path().string() + "/Setting.xml";
};

TEST_F(EditorTest, EveryFieldReadsBackWhereExpected) {
    const struct {
        std::vector<Args> edits;
        std::function<void(_QZ5_CONFIG&)> expect;
    } cases[] = {
        {{{"set", "profile", "3"}}, [](auto& r) { r.PROFILE_ID = 2; }},
        {{{"set", "game", "ON"}}, [](auto& r) { r.GAME_MODE = 1; }},
        {{{"set", "light", "style", "4", "zones", "wasd,flag"}},
         [](auto& r) { r.LIGHT_OPTION.LIGHT_STYLE = 4, r.LIGHT_OPTION.WASDLIGHT = r.LIGHT_OPTION.PELLFLAGLIGHT = 1; }},
        {{{"set", "light", "zones", "arrows,numbers"}, {"set", "light", "arrows", "off"}},
         [](auto& r) { r.LIGHT_OPTION.NUMBERLIGHT = 1; }},
        {{{"set", "2", "key", "caps", "Escape"}}, [](auto& r) { r.PROFILE[1].KEY[57] = 53 + 1; }},
        {{{"set", "3", "key", "keypad0", "pgup"}}, [](auto& r) { r.PROFILE[2].KEY[100] = 116 + 1; }},
        {{{"set", "1", "key", "A", "B"}, {"set", "1", "key", "a", "default"}}, [](auto&) {}},
        {{{"set", "3", "T12", "key", "F1"}},
         [](auto& r) { r.PROFILE[2].TKEYINFO[11].FUNCID = 1, r.PROFILE[2].TKEYINFO[11].SINGLE_KEYCODE = 122; }},
        {{{"set", "1", "t3", "launch", "/usr/bin/rec"}},
         [](auto& r) { r.PROFILE[0].TKEYINFO[2].FUNCID = 3, std::strcpy(r.PROFILE[0].TKEYINFO[2].LAUNCHPATH, "/usr/bin/rec"); }},
        {{{"set", "1", "m8", "on", "F13", "macro", "name", "Build ✓", "repeat", "3"}},
         [](auto& r) {
             _TKEY_INFO& k = r.PROFILE[0].MAPPINGKEYINFO[7];
             k.MAPKEY_KEYCODE = 105 + 1, k.FUNCID = 2, k.MACRO.REPEAT_OPTION = 3;
             std::strcpy(k.MACRO.MACRONAME, "Build ✓");
         }},
        {{{"set", "2", "m1", "on", "F1", "key", "A"}, {"set", "2", "m1", "on", "none", "none"}},
         [](auto& r) { r.PROFILE[1].MAPPINGKEYINFO[0].SINGLE_KEYCODE = 0; }},
        {{{"set", "1", "shift", "next", "alt", "previous", "Control"}, {"set", "1", "shift", "next", "shift"}},
         [](auto& r) { r.PROFILE[0].INSTANT_SHIFT.NEXTKEY = 3, r.PROFILE[0].INSTANT_SHIFT.PREKEY = 2; }},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteSettingsFrom(*DefaultRecord(), file));
        for (const auto& e : c.edits) ASSERT_EQ(Edit(e), 0) << e[0] << " " << e[1] << " " << e[2];
        auto expected = DefaultRecord();
        c.expect(*expected);
        ASSERT_TRUE(LoadFile(file));
        EXPECT_TRUE(SameRecord(m_Config, *expected))
            << c.edits[0][1] << " " << c.edits[0][2] << ": first difference at byte " << FirstDifference(m_Config, *expected);
    }
}

uint32_t Below(std::mt19937& rng, uint32_t n) { return static_cast<uint32_t>(rng() % n); }

uint32_t LayoutCode(std::mt19937& rng) { return StdKeyInfo[Below(rng, kStdKeyRowsInUse)].vkey; }

// A random profile. inWords keeps what show prints to what set can say;
// otherwise every field may hold any value a settings file can give it.
void RandomProfile(std::mt19937& rng, _QZ5_PROFILE& p, bool inWords) {
    const auto any = [&](std::initializer_list<uint32_t> usual) {
        return inWords || rng() % 3 ? usual.begin()[rng() % usual.size()] : static_cast<uint32_t>(rng());
    };
    for (int k = 0; k < kKeySlotCount; ++k)
        if (rng() % 4 == 0 && (k < kStdKeyRowsInUse || !inWords)) p.KEY[k] = any({0, 1 + Below(rng, 256), 1 + Below(rng, 256)});
    for (int i = 0; i < kProgKeyCount; ++i) {
        _TKEY_INFO& key = i < kTKeyCount ? p.TKEYINFO[i] : p.MAPPINGKEYINFO[i - kTKeyCount];
        key.FUNCID = any({0, 1, 2, 3});
        key.SINGLE_KEYCODE = any({0, Below(rng, 256)});
        SetText(key.LAUNCHPATH, rng() % 2 ? (inWords || rng() % 2 ? "/" : "") + RandomText(rng, 254, !inWords) : "");
        SetText(key.MACRO.MACRONAME, RandomText(rng, 255, !inWords));
        key.MACRO.REPEAT_OPTION = any({0, 1, 2, 3});
        if (!inWords) key.MACRO.REPEAT_TIMES = any({0, 5});
        if (i >= kTKeyCount || !inWords) key.MAPKEY_KEYCODE = any({0, LayoutCode(rng) + 1});
        key.MACRO.LENGTH = rng() % 30;
        for (uint32_t s = 0; s < key.MACRO.LENGTH; ++s)
            key.MACRO.KEYMAP[s] = rng() % 2 ? _KEYMAP_INFO{1 + Below(rng, 128), Below(rng, 2)}
                                            : _KEYMAP_INFO{any({255, 208 + Below(rng, 17)}), any({0})};
    }
    p.INSTANT_SHIFT = {any({0, 1, 2, 3}), any({0, 1, 2, 3})};
}

// Each line of show, given to set, leaves the file as it was. Of a record
// the words can say, every setting is a line; of any other, what set would
// store differently is a comment.
TEST_F(EditorTest, ShowReadsBackThroughSetUnchanged) {
    std::mt19937 rng(22);
    for (const bool inWords : {true, false}) {
        auto rec = DefaultRecord();
        const auto any = [&](uint32_t below) { return inWords || rng() % 2 ? Below(rng, below) : Below(rng, 9); };
        rec->PROFILE_ID = Below(rng, 3), rec->GAME_MODE = any(2);
        rec->LIGHT_OPTION = {any(5), any(2), any(2), any(2), any(2)};
        for (auto& p : rec->PROFILE) RandomProfile(rng, p, inWords);
        ASSERT_TRUE(WriteSettingsFrom(*rec, file));
        const std::string before = ReadText(file);
        const std::string show = SettingsSummary(*rec);
        EXPECT_EQ(show.find("not as the file holds it") == std::string::npos, inWords) << show;
        std::istringstream lines(show);
        for (std::string line; std::getline(lines, line);) {
            Args args = SplitQuoted(line);
            if (args.empty()) continue;
            args.insert(args.begin(), "set");
            ASSERT_EQ(Edit(args), 0) << line;
        }
        EXPECT_EQ(ReadText(file), before);
    }
}

TEST_F(EditorTest, ProfileExportImportGivesTheSameRecord) {
    std::mt19937 rng(1722);
    const std::string text = dir.path().string() + "/profile.txt";
    for (int round = 0; round < 3; ++round) {
        auto rec = DefaultRecord();
        for (auto& p : rec->PROFILE) RandomProfile(rng, p, false);
        ASSERT_TRUE(WriteSettingsFrom(*rec, file));
        std::memset(&m_Config, 0, sizeof m_Config);  // a load keeps the steps past each LENGTH
        ASSERT_TRUE(LoadFile(file));
        const int from = round, to = (round + 1) % kProfileCount;
        const auto expected = std::make_unique<_QZ5_PROFILE>(m_Config.PROFILE[from]);
        testing::internal::CaptureStdout();
        ASSERT_EQ(Edit({"profile", "export", std::to_string(from + 1)}), 0);
        WriteText(text, testing::internal::GetCapturedStdout());
        ASSERT_EQ(Edit({"profile", "import", std::to_string(to + 1), text}), 0);
        std::memset(&m_Config, 0, sizeof m_Config);  // a load keeps the steps past each LENGTH
        ASSERT_TRUE(LoadFile(file));
        const auto* a = reinterpret_cast<const unsigned char*>(expected.get());
        const auto* b = reinterpret_cast<const unsigned char*>(&m_Config.PROFILE[to]);
        EXPECT_EQ(std::mismatch(a, a + sizeof *expected, b).first - a, static_cast<long>(sizeof *expected)) << round;
    }
}

TEST(MacroText, RoundTripsEveryStepKind) {
    const struct {
        std::vector<_KEYMAP_INFO> steps;
        std::string text;
    } cases[] = {
        {{{1, 1}, {1, 0}, {57, 1}, {12, 1}, {12, 0}, {57, 0}}, "tap A\npress Shift\ntap B\nrelease Shift\n"},
        {{{1, 1}, {2, 0}, {1, 0}, {1, 1}}, "press A\nrelease S\nrelease A\npress A\n"},
        {{{255, 0}, {255, 65535}, {255, 70000}, {255, 4294967295u}},
         "delay 0\ndelay 65535\ndelay 70000\ndelay 4294967295\n"},
        {{{208, 0}, {209, 0}, {210, 0}, {211, 0}, {212, 0}, {213, 0}, {214, 0}, {215, 0}, {216, 0}, {217, 0},
          {218, 0}, {219, 0}, {220, 0}, {221, 0}, {222, 0}, {223, 0}, {224, 0}},
         "pageup\npagedown\ncopy\npaste\nundo\nbackspace\ncut\nselectall\nfind\nprint\nsave\nnew\n"
         "click left\nclick right\nclick middle\nwheel up\nwheel down\n"},
        // What the words cannot name: unnamed keys, odd flags, skipped codes.
        {{{0, 1}, {53, 1}, {129, 0}, {1, 2}, {208, 1}, {225, 0}, {254, 7}, {256, 1}},
         "raw 0 1\nraw 53 1\nraw 129 0\nraw 1 2\nraw 208 1\nraw 225 0\nraw 254 7\nraw 256 1\n"},
    };
    auto macro = std::make_unique<_MACRO_INFO>();
    for (const auto& c : cases) {
        std::memset(macro.get(), 0, sizeof *macro);
        macro->LENGTH = static_cast<uint32_t>(c.steps.size());
        std::copy(c.steps.begin(), c.steps.end(), macro->KEYMAP);
        EXPECT_EQ(MacroText(*macro), c.text);
        std::vector<std::string> notes;
        const auto back = ParseMacroText("# a comment\n\n" + MacroText(*macro) + "  # trailing\n", notes);
        ASSERT_EQ(back.size(), c.steps.size()) << c.text;
        for (size_t i = 0; i < back.size(); ++i)
            EXPECT_TRUE(back[i].KEYCODE == c.steps[i].KEYCODE && back[i].KEYFLAG == c.steps[i].KEYFLAG) << c.text << i;
    }
    std::vector<std::string> notes;
    for (const auto& [text, error] : std::vector<std::pair<std::string, std::string>>{
             {"tap A\ntap Escpae", "line 2: no key named 'Escpae' (did you mean Escape?)"},
             {"click up", "line 1: no mouse button 'up'"},
             {"delay -1", "line 1: a delay is a number"},
             {"raw 1", "line 1: 'raw' takes KEYCODE KEYFLAG"},
             {"\n\npres A", "line 3: no macro step 'pres' (did you mean press?)"}}) {
        try {
            ParseMacroText(text, notes);
            ADD_FAILURE() << text;
        } catch (const WordError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(error, 0), 0u) << e.what();
        }
    }
}

TEST_F(EditorTest, RefusedEditsLeaveTheFileAsItWas) {
    auto write = [&](const std::string& name, const std::string& text) {
        WriteText(dir.path().string() + "/" + name, text);
        return dir.path().string() + "/" + name;
    };
    std::string presses;
    for (size_t i = 0; i < 5440; ++i) presses += "press A\n";
    auto steps = [&](const std::string& name, size_t n) { return write(name, presses.substr(0, n * 8) + (n > 5440 ? "press B\n" : "")); };
    // 5440 key steps take 16323 bytes: one such macro fits, a second does not.
    ASSERT_EQ(Edit({"macro", "import", "1", "t1", steps("full", 5440)}), 0);
    ASSERT_EQ(Edit({"set", "1", "t1", "macro"}), 0);
    ASSERT_EQ(Edit({"set", "1", "t2", "macro"}), 0);
    const std::string before = ReadText(file);
    const struct {
        Args args;
        std::string message;
    } cases[] = {
        {{"macro", "import", "1", "t2", steps("full", 5440)}, "12166 bytes over"},
        {{"macro", "import", "1", "t3", steps("long", 5441)}, "5441 steps, 1 over the 5440"},
        {{"macro", "import", "1", "t3", steps("bad", 0) + "x"}, "cannot read"},
        {{"profile", "import", "2", write("two", "T1 macro\nT1 steps\n" + presses + "end\nT2 macro\nT2 steps\n" + presses + "end\n")},
         "12166 bytes over"},
        {{"profile", "import", "1", write("bad", "# a profile\nkey Left Right\nT1 luanch /bin/true\n")},
         "bad line 3: no setting for T1 'luanch' (did you mean launch?)"},
        {{"profile", "import", "1", write("open", "T1 steps\ntap A\n")}, "the steps of T1 have no end line"},
        {{"macro", "import", "1", "t3", write("late", "delay 70000\ntap Delete\n")}, "line 2: 'Delete' is Backspace"},
        {{"set", "1", "key", "Escpae", "A"}, "(did you mean Escape?)"},
        {{"set", "1", "key", "A", "Nope"}, "no key named 'Nope'"},
        {{"set", "4", "t1", "none"}, "the profile is a number from 1 to 3, not '4'"},
        {{"set", "ligth", "style", "1"}, "(did you mean light?)"},
        {{"set", "light", "style", "5"}, "from 0 to 4"},
        {{"set", "light", "zones", "wasd,keys"}, "expected wasd, arrows, numbers, flag"},
        {{"set", "1", "t13", "none"}, "expected key, shift, T1-T12 or M1-M8"},
        {{"set", "1", "t1", "on", "F1"}, "expected none, key, macro, launch, name, repeat"},
        {{"set", "1", "m1", "on"}, "missing the value of on"},
        {{"set", "1", "m1", "repeat", "4"}, "from 1 to 3"},
        {{"set", "1", "t1", "name", std::string(256, 'x')}, "256 bytes; at most 255"},
        {{"set", "1", "shift", "next", "meta"}, "expected none, Alt, Control, Shift"},
        {{"set", "game"}, "missing on or off"},
        {{"show", "--apply"}, "--apply goes with set and import"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        const int status = Edit(c.args);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, c.message == "cannot read" ? 1 : 2) << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(ReadText(file), before) << err;
    }
}

TEST_F(EditorTest, ForeignEntriesAndLinksSurvive) {
    const std::string foreign[] = {"<key>OtherApp</key>\n\t<dict>\n\t\t<key>x</key>\n\t\t<string>a &amp; b</string>\n\t</dict>\n",
                                   "<key>KEY_0161</key>\n\t\t<integer>5</integer>\n",
                                   "<key>Colour</key>\n\t\t\t<string></string>\n"};
    std::string text = ReadText(file);
    text.insert(text.find("\t<key>GAME_MODE"), "\t" + foreign[0]);
    text.insert(text.find("\t\t<key>KEY_1<"), "\t\t" + foreign[1]);
    text.insert(text.find("\t\t\t<key>PREKEY"), "\t\t\t" + foreign[2]);
    const std::string target = dir.path().string() + "/dotfiles-Setting.xml";
    WriteText(target, text);
    ASSERT_EQ(::unlink(file.c_str()), 0);
    ASSERT_EQ(::symlink("dotfiles-Setting.xml", file.c_str()), 0);
    ASSERT_EQ(Edit({"set", "1", "t1", "key", "F5"}), 0);
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    const std::string after = ReadText(target);
    for (const auto& f : foreign) EXPECT_NE(after.find(f), std::string::npos) << f;
    ASSERT_TRUE(LoadFile(file));
    EXPECT_EQ(m_Config.PROFILE[0].TKEYINFO[0].SINGLE_KEYCODE, 96u);
    // A missing file starts from the factory defaults.
    ASSERT_EQ(::unlink(target.c_str()), 0);
    ASSERT_EQ(Edit({"set", "game", "on"}), 0);
    auto expected = DefaultRecord();
    expected->GAME_MODE = 1;
    ASSERT_TRUE(LoadFile(target));
    EXPECT_TRUE(SameRecord(m_Config, *expected));
}

TEST_F(EditorTest, ConcurrentEditsAllLand) {
    std::vector<std::thread> editors;
    std::atomic<int> failures = 0;
    for (int t = 0; t < kTKeyCount; ++t)
        editors.emplace_back([&, t] {
            std::string fkey = "F";  // appended: see ProgKeyName
            fkey += std::to_string(t + 1);
            failures += Edit({"set", "2", ProgKeyName(t), "key", fkey});
        });
    for (auto& e : editors) e.join();
    EXPECT_EQ(failures, 0);
    ASSERT_TRUE(LoadFile(file));
    for (int t = 0; t < kTKeyCount; ++t) EXPECT_EQ(m_Config.PROFILE[1].TKEYINFO[t].FUNCID, 1u) << t;
}

}  // namespace
