// The macro editor's model: recordings in each delay mode, edits with undo
// and redo, text both ways as qz5ctl prints and reads it, capacity and its
// refusals as qz5ctl words them.
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

std::string Lines(const MacroSteps& m) { return Lines(m.Steps()); }

TEST(MacroSteps, RecordingInEachDelayMode) {
    const uint32_t h = static_cast<uint32_t>(MacKeyOfLinuxKey(KEY_H));
    const uint32_t i = static_cast<uint32_t>(MacKeyOfLinuxKey(KEY_I));
    EXPECT_EQ(h, KeyCodeOf("H", true));
    EXPECT_EQ(static_cast<uint32_t>(MacKeyOfLinuxKey(KEY_LEFTSHIFT)), KeyCodeOf("Shift", true));
    EXPECT_EQ(static_cast<uint32_t>(MacKeyOfLinuxKey(KEY_KPENTER)), KeyCodeOf("KeypadEnter", true));
    EXPECT_EQ(MacKeyOfLinuxKey(KEY_VOLUMEUP), -1);
    const std::vector<RecordedKey> keys = {
        {h, true, 1000}, {h, false, 1083}, {i, true, 1127}, {i, false, 1127}, {h, true, 71127}};
    const struct {
        DelayMode mode;
        std::string steps;
    } cases[] = {
        {{DelayMode::AsRecorded, 0, 0},
         "press H\ndelay 83\nrelease H\ndelay 44\npress I\nrelease I\ndelay 65535\ndelay 4465\npress H\n"},
        {{DelayMode::AsRecorded, 0, 10},
         "press H\ndelay 80\nrelease H\ndelay 40\npress I\nrelease I\ndelay 65535\ndelay 4465\npress H\n"},
        {{DelayMode::Fixed, 50, 10},
         "press H\ndelay 50\nrelease H\ndelay 50\npress I\ndelay 50\nrelease I\ndelay 50\npress H\n"},
        {{DelayMode::None, 50, 0}, "press H\nrelease H\npress I\nrelease I\npress H\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(Lines(StepsFromRecording(keys, c.mode)), c.steps) << c.mode.kind;

    // The same modes on a macro already made: runs of delays, taps, built-ins.
    MacroSteps m;
    ASSERT_TRUE(m.Import("tap A\ndelay 12\ndelay 7\nclick left\ndelay 3\nwheel up\ntap B\n"));
    m.ApplyDelays({DelayMode::AsRecorded, 0, 10});
    EXPECT_EQ(Lines(m), "tap A\ndelay 10\ndelay 10\nclick left\nwheel up\ntap B\n");
    m.ApplyDelays({DelayMode::Fixed, 50, 0});
    EXPECT_EQ(Lines(m), "tap A\ndelay 50\nclick left\ndelay 50\nwheel up\ndelay 50\ntap B\n");
    m.ApplyDelays({DelayMode::None, 0, 0});
    EXPECT_EQ(Lines(m), "tap A\nclick left\nwheel up\ntap B\n");
}

TEST(MacroSteps, EditsUndoAndRedo) {
    MacroSteps m;
    std::vector<std::string> seen = {Lines(m)};
    auto did = [&] { seen.push_back(Lines(m) + "name " + m.Name()); };
    seen.back() += "name ";
    m.Insert(0, *ParseSteps("tap A\npress Shift\ndelay 5"));
    did();
    m.Insert(99, {ClickStep(1), WheelStep(false)});  // past the end: appended
    did();
    m.Change(1, KeyStep(KeyCodeOf("Control", true), true));
    did();
    m.Move(0, 3);
    did();
    m.Duplicate(2);
    did();
    m.Delete(1, 2);
    did();
    ASSERT_TRUE(m.SetName("hello"));
    did();
    EXPECT_EQ(seen.back(), "press Control\nclick right\ntap A\nwheel down\nname hello");
    EXPECT_FALSE(m.SetName(std::string(300, 'x')));
    EXPECT_EQ(m.SetName("bad\x01").error(), "the macro's name holds a control character or is not UTF-8");
    m.Change(0, m.Steps()[0]);  // no change, no undo step
    for (size_t n = seen.size() - 1; n > 0; --n) {
        ASSERT_TRUE(m.Undo());
        EXPECT_EQ(Lines(m) + "name " + m.Name(), seen[n - 1]);
    }
    EXPECT_FALSE(m.CanUndo());
    for (size_t n = 1; n < seen.size(); ++n) {
        ASSERT_TRUE(m.Redo());
        EXPECT_EQ(Lines(m) + "name " + m.Name(), seen[n]);
    }
    EXPECT_FALSE(m.Redo());
    m.Undo();
    m.Clear();  // a new edit drops what could be redone
    EXPECT_FALSE(m.CanRedo());
    EXPECT_TRUE(m.Steps().empty());
}

class MacroStepsFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WriteSettingsFrom(*DefaultRecord(), file)); }
    // qz5ctl's run of args on the file, with what it printed.
    int Qz5ctl(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr) {
        args.insert(args.begin(), {"--file", file});
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = RunEditorCommand(args);
        const std::string o = testing::internal::GetCapturedStdout(), e = testing::internal::GetCapturedStderr();
        if (out) *out = o;
        if (err) *err = e;
        return status;
    }
    TempDir dir;
    std::string file = dir.path().string() + "/Setting.xml";
};

TEST_F(MacroStepsFile, TextBothWaysAsQz5ctlPrintsAndReadsIt) {
    const std::string text =
        "press Shift\ntap A\nrelease Shift\ndelay 70000\nclick middle\nwheel up\ncopy\nraw 53 1\nraw 1 2\n"
        "press B\nrelease B\n";
    std::vector<std::string> notes;
    MacroSteps m;
    ASSERT_TRUE(m.Import(text, &notes));
    ASSERT_TRUE(m.SetName("my \"macro\""));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].rfind("line 4: the keyboard keeps the low 16 bits", 0), 0u) << notes[0];
    EXPECT_EQ(m.Steps().size(), 11u);  // a step a line, as typed
    EXPECT_EQ(m.Records(), 12u);

    // qz5ctl import of the same text stores the records the editor stores.
    WriteText(dir.path().string() + "/m.txt", text);
    ASSERT_EQ(Qz5ctl({"macro", "import", "2", "M3", dir.path().string() + "/m.txt"}), 0);
    auto loaded = LoadSettingsFile(file);
    ASSERT_TRUE(loaded);
    auto mine = DefaultRecord();
    ASSERT_TRUE(m.StoreInto(mine->PROFILE[1], 1, 14));
    const _MACRO_INFO &a = (*loaded)->PROFILE[1].MAPPINGKEYINFO[2].MACRO, &b = mine->PROFILE[1].MAPPINGKEYINFO[2].MACRO;
    ASSERT_EQ(a.LENGTH, b.LENGTH);
    EXPECT_EQ(std::memcmp(a.KEYMAP, b.KEYMAP, sizeof a.KEYMAP), 0);

    // Export prints what qz5ctl macro export prints once the name is set too.
    ASSERT_EQ(Qz5ctl({"set", "2", "M3", "name", "my \"macro\""}), 0);
    std::string printed;
    ASSERT_EQ(Qz5ctl({"macro", "export", "2", "M3"}, &printed), 0);
    EXPECT_EQ(m.Export(1, 14), printed);

    // And reads back to the same records, grouped as printed.
    MacroSteps back((*loaded)->PROFILE[1].MAPPINGKEYINFO[2].MACRO);
    ASSERT_TRUE(back.Import(m.Export(1, 14)));
    EXPECT_EQ(back.Steps(), StepsOf(a.KEYMAP, a.LENGTH));
    EXPECT_EQ(Lines(back).substr(Lines(back).size() - 6), "tap B\n");
    const auto flat = back.Flat();
    EXPECT_EQ(std::memcmp(flat.data(), a.KEYMAP, flat.size() * sizeof flat[0]), 0);

    const auto bad = ParseSteps("tap A\n\nclick up");
    EXPECT_EQ(bad.error(), "line 3: no mouse button 'up'; expected left, right, middle");
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

    // One step more than a key holds: the words of qz5ctl macro import.
    m.Insert(0, {DelayStep(1)});
    const std::string over = Lines(m);
    WriteText(dir.path().string() + "/over.txt", over);
    std::string err;
    EXPECT_EQ(Qz5ctl({"macro", "import", "1", "T2", dir.path().string() + "/over.txt"}, nullptr, &err), 2);
    EXPECT_EQ("qz5ctl: " + m.Measure(rec->PROFILE[0], 0, 1).refusal + "\n", err);
    EXPECT_FALSE(m.StoreInto(rec->PROFILE[0], 0, 1));
    EXPECT_EQ(rec->PROFILE[0].TKEYINFO[1].FUNCID, DefaultRecord()->PROFILE[0].TKEYINFO[1].FUNCID);

    // Fits a key, but not beside the first in the profile's memory.
    m.Delete(0, kMacroStepMax / 4 + 1);  // the delay and half the taps
    ASSERT_TRUE(WriteSettingsFrom(*rec, file));
    c = m.Measure(rec->PROFILE[0], 0, 3);
    EXPECT_GT(c.bytes, static_cast<uint32_t>(kMacroStreamSize));
    EXPECT_EQ(c.records, static_cast<size_t>(kMacroStepMax / 2));
    const std::string before = ReadText(file);
    WriteText(dir.path().string() + "/fits.txt", Lines(m));
    EXPECT_EQ(Qz5ctl({"macro", "import", "1", "T4", dir.path().string() + "/fits.txt"}, nullptr, &err), 2);
    EXPECT_EQ("qz5ctl: " + c.refusal + "\n", err);
    EXPECT_EQ(ReadText(file), before);
}

}  // namespace
