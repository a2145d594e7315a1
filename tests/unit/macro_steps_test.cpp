// The macro editor's model: recordings in each delay mode, edits with undo
// and redo, text as qz5ctl reads and prints it, capacity and its refusals in
// qz5ctl's words.
#include <linux/input-event-codes.h>

#include <gtest/gtest.h>

#include "editing/editor.hpp"
#include "editing/macro_steps.hpp"
#include "editing/words.hpp"
#include "keyboard/encoding.hpp"
#include "tests/support/config_helpers.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

std::string Lines(const std::vector<MacroStep>& steps) {
    std::string out;
    for (const auto& s : steps) out += s.Text() + "\n";
    return out;
}

TEST(MacroSteps, RecordingsAndDelayModes) {
    const auto h = static_cast<uint32_t>(MacKeyOfLinuxKey(KEY_H)), i = static_cast<uint32_t>(MacKeyOfLinuxKey(KEY_I));
    EXPECT_EQ(h, KeyCodeOf("H", true));
    EXPECT_EQ(static_cast<uint32_t>(MacKeyOfLinuxKey(KEY_KPENTER)), KeyCodeOf("KeypadEnter", true));
    EXPECT_EQ(MacKeyOfLinuxKey(KEY_VOLUMEUP), -1);
    // A press and release at the same time, and a gap longer than one delay plays.
    const std::vector<RecordedKey> keys = {
        {h, true, 1000}, {h, false, 1083}, {i, true, 1127}, {i, false, 1127}, {h, true, 71127},
        {0, true, 71190, RecordedKey::Middle}, {0, true, 71190, RecordedKey::WheelDown}};
    const std::pair<DelayMode, std::string> cases[] = {
        {{DelayMode::AsRecorded, 0, 0}, "press H\ndelay 83\nrelease H\ndelay 44\npress I\nrelease I\ndelay 65535\n"
                                        "delay 4465\npress H\ndelay 63\nclick middle\nwheel down\n"},
        {{DelayMode::AsRecorded, 0, 10}, "press H\ndelay 80\nrelease H\ndelay 40\npress I\nrelease I\ndelay 65535\n"
                                         "delay 4465\npress H\ndelay 60\nclick middle\nwheel down\n"},
        {{DelayMode::Fixed, 50, 10}, "press H\ndelay 50\nrelease H\ndelay 50\npress I\ndelay 50\nrelease I\ndelay 50\n"
                                     "press H\ndelay 50\nclick middle\ndelay 50\nwheel down\n"},
        {{DelayMode::None, 50, 0}, "press H\nrelease H\npress I\nrelease I\npress H\nclick middle\nwheel down\n"},
    };
    for (const auto& [mode, steps] : cases) EXPECT_EQ(Lines(StepsFromRecording(keys, mode)), steps) << mode.kind;

    // On steps already made: runs of delays, taps, built-ins; a delay rounded to 0 goes.
    MacroSteps m;
    ASSERT_TRUE(m.Import("tap A\ndelay 12\ndelay 7\nclick left\ndelay 3\nwheel up\ntap B\n"));
    m.ApplyDelays({DelayMode::AsRecorded, 0, 10});
    EXPECT_EQ(Lines(m.Steps()), "tap A\ndelay 10\ndelay 10\nclick left\nwheel up\ntap B\n");
    m.ApplyDelays({DelayMode::Fixed, 50, 0});
    EXPECT_EQ(Lines(m.Steps()), "tap A\ndelay 50\nclick left\ndelay 50\nwheel up\ndelay 50\ntap B\n");
}

TEST(MacroSteps, EditsUndoAndRedo) {
    MacroSteps m;
    const auto state = [&] { return Lines(m.Steps()) + "name " + m.Name(); };
    std::vector<std::string> seen = {state()};
    for (const auto& edit : std::vector<std::function<void()>>{
             [&] { m.Insert(0, *ParseSteps("tap A\npress Shift\ndelay 5")); },
             [&] { m.Insert(99, {ClickStep(1), WheelStep(false)}); },  // past the end: appended
             [&] { m.Change(1, KeyStep(KeyCodeOf("Control", true), true)); }, [&] { m.Move(0, 3); },
             [&] { m.Duplicate(2); }, [&] { m.Delete(1, 2); }, [&] { ASSERT_TRUE(m.SetName("hello")); }}) {
        edit();
        seen.push_back(state());
    }
    EXPECT_EQ(seen.back(), "press Control\nclick right\ntap A\nwheel down\nname hello");
    EXPECT_EQ(m.SetName("bad\x01").error(), "the macro's name holds a control character or is not UTF-8");
    m.Change(0, m.Steps()[0]);  // no change, no undo step
    for (size_t n = seen.size() - 1; n > 0; --n) EXPECT_TRUE(m.Undo() && state() == seen[n - 1]) << n;
    EXPECT_FALSE(m.Undo());
    for (size_t n = 1; n < seen.size(); ++n) EXPECT_TRUE(m.Redo() && state() == seen[n]) << n;
    m.Undo();
    m.Clear();  // a new edit drops what could be redone
    EXPECT_FALSE(m.CanRedo());
}

class MacroStepsFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WriteSettingsFrom(*DefaultRecord(), file)); }
    // qz5ctl run on the file; what it printed on standard output or error.
    int Qz5ctl(std::vector<std::string> args, std::string& printed, bool out = false) {
        args.insert(args.begin(), {"--file", file});
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = RunEditorCommand(args);
        const std::string o = testing::internal::GetCapturedStdout(), e = testing::internal::GetCapturedStderr();
        printed = out ? o : e;
        return status;
    }
    std::string Write(const std::string& name, const std::string& text) {
        WriteText(dir.path().string() + "/" + name, text);
        return dir.path().string() + "/" + name;
    }
    TempDir dir;
    std::string file = dir.path().string() + "/Setting.xml";
    std::string printed;
};

TEST_F(MacroStepsFile, TextAsQz5ctlReadsAndPrintsIt) {
    const std::string text = "press Shift\ntap A\nrelease Shift\ndelay 70000\nclick middle\nwheel up\ncopy\n"
                             "raw 53 1\nraw 1 2\npress B\nrelease B\n";
    std::vector<std::string> notes;
    MacroSteps m;
    ASSERT_TRUE(m.Import(text, &notes));
    ASSERT_TRUE(m.SetName("my \"macro\""));
    EXPECT_EQ(notes.size(), 1u);  // the delay over 16 bits
    EXPECT_EQ(m.Steps().size(), 11u);  // a step a line, as typed
    // qz5ctl import of the same text stores the same records; its export
    // prints what the editor exports.
    ASSERT_EQ(Qz5ctl({"macro", "import", "2", "M3", Write("m.txt", text)}, printed), 0);
    ASSERT_EQ(Qz5ctl({"set", "2", "M3", "name", "my \"macro\""}, printed), 0);
    auto loaded = LoadSettingsFile(file);
    ASSERT_TRUE(loaded);
    auto mine = DefaultRecord();
    ASSERT_TRUE(m.StoreInto(mine->PROFILE[1], 1, 14));
    const _MACRO_INFO &a = (*loaded)->PROFILE[1].MAPPINGKEYINFO[2].MACRO, &b = mine->PROFILE[1].MAPPINGKEYINFO[2].MACRO;
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    ASSERT_EQ(Qz5ctl({"macro", "export", "2", "M3"}, printed, true), 0);
    EXPECT_EQ(m.Export(1, 14), printed);
    EXPECT_EQ(Lines(MacroSteps(a).Steps()).substr(0, 32), "press Shift\ntap A\nrelease Shift\n");
}

TEST_F(MacroStepsFile, CapacityAndItsRefusalsInQz5ctlsWords) {
    auto rec = DefaultRecord();
    MacroSteps m;
    m.Insert(0, std::vector<MacroStep>(kMacroStepMax / 2, *ParseSteps("tap A")->begin()));
    MacroCapacity c = m.Measure(rec->PROFILE[0], 0, 0);
    EXPECT_EQ(c.records, static_cast<size_t>(kMacroStepMax));
    EXPECT_EQ(c.bytes, ProfileMacroMemoryUse(rec->PROFILE[0]) + kMacroStepMax * 3 + 3);
    EXPECT_EQ(c.refusal, "");
    ASSERT_TRUE(m.StoreInto(rec->PROFILE[0], 0, 0));
    EXPECT_EQ(ProfileMacroMemoryUse(rec->PROFILE[0]), c.bytes);

    // One step more than a key holds, then a macro that fits a key but not
    // beside the first: refused as qz5ctl macro import refuses them.
    m.Insert(0, {DelayStep(1)});
    EXPECT_EQ(Qz5ctl({"macro", "import", "1", "T2", Write("over.txt", Lines(m.Steps()))}, printed), 2);
    EXPECT_EQ("qz5ctl: " + m.Measure(rec->PROFILE[0], 0, 1).refusal + "\n", printed);
    EXPECT_FALSE(m.StoreInto(rec->PROFILE[0], 0, 1));
    EXPECT_EQ(rec->PROFILE[0].TKEYINFO[1].FUNCID, DefaultRecord()->PROFILE[0].TKEYINFO[1].FUNCID);
    m.Delete(0, kMacroStepMax / 4 + 1);  // the delay and half the taps
    ASSERT_TRUE(WriteSettingsFrom(*rec, file));
    c = m.Measure(rec->PROFILE[0], 0, 3);
    EXPECT_GT(c.bytes, static_cast<uint32_t>(kMacroStreamSize));
    EXPECT_EQ(Qz5ctl({"macro", "import", "1", "T4", Write("fits.txt", Lines(m.Steps()))}, printed), 2);
    EXPECT_EQ("qz5ctl: " + c.refusal + "\n", printed);
}

}  // namespace
