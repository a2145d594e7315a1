// One key's macro as a settings application edits it: a list of steps, each
// one line in the words of the macro text (press, release, tap, delay,
// click, wheel, the built-in actions, raw), with undo and redo, the macro's
// name, recording from timed key presses and releases, delay modes, and the
// capacity figures and refusals of `qz5ctl macro import`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/qz5_config.hpp"
#include "platform/result.hpp"

// One step: one record, or two for a tap (a press and the release of the
// same key right after it).
struct MacroStep {
    std::vector<_KEYMAP_INFO> records;
    std::string Text() const;  // its line of macro text
    bool IsDelay() const;
    bool operator==(const MacroStep& other) const;
};

// Steps made by hand.
MacroStep DelayStep(uint32_t milliseconds);
MacroStep KeyStep(uint32_t vkey, bool pressed);
MacroStep ClickStep(int button);   // 0 left, 1 right, 2 middle
MacroStep WheelStep(bool up);

// The steps of a macro text, one per line (comments and blank lines
// skipped). The refusal names the line of the first mistake, counted from
// firstLine; notes gets what the keyboard makes of a step differently from
// what it says.
Result<std::vector<MacroStep>> ParseSteps(const std::string& text, std::vector<std::string>* notes = nullptr,
                                          int firstLine = 1);
// The steps of count records, grouped as the macro text prints them.
std::vector<MacroStep> StepsOf(const _KEYMAP_INFO* records, uint32_t count);

// How the gaps between a macro's steps become delays.
struct DelayMode {
    enum Kind { AsRecorded, Fixed, None } kind = AsRecorded;
    uint32_t fixedMs = 50;  // Fixed: the delay of every gap
    uint32_t roundMs = 0;   // AsRecorded: delays rounded to a multiple of this (0 or 1: kept as they are)
};

// A key press or release as a recorder saw it (the macOS key code), or a
// mouse button pressed or the wheel turned; and when (milliseconds on any
// clock that does not jump).
struct RecordedKey {
    enum Mouse { NoMouse = -1, Left, Right, Middle, WheelUp, WheelDown };  // Left..Middle as ClickStep
    uint32_t vkey;
    bool pressed;
    uint64_t ms;
    Mouse mouse = NoMouse;
};
// The steps of a recording: each press and release a step (a mouse button
// pressed a click, the wheel turned a wheel step), the gaps between them
// delays as mode says (a gap over 65535 ms, more than one delay step holds,
// takes several).
std::vector<MacroStep> StepsFromRecording(const std::vector<RecordedKey>& keys, const DelayMode& mode);

// The macOS key code of a Linux input key code (KEY_A ...), or -1 for a key
// the keyboard does not have.
int MacKeyOfLinuxKey(uint32_t code);

// What a macro takes against what a key and its profile hold.
struct MacroCapacity {
    size_t records = 0;  // against kMacroStepMax
    uint32_t bytes = 0;  // the profile's macro memory with this macro on its key, against kMacroStreamSize
    std::string refusal;  // empty when it fits; else why it cannot be applied, and by how much
};

class MacroSteps {
public:
    MacroSteps() = default;
    explicit MacroSteps(const _MACRO_INFO& macro);

    const std::vector<MacroStep>& Steps() const { return steps_; }
    const std::string& Name() const { return name_; }
    size_t Records() const;
    std::vector<_KEYMAP_INFO> Flat() const;

    // Edits; each is one undo step. Positions past the end are clamped.
    void Insert(size_t at, const std::vector<MacroStep>& steps);
    void Change(size_t index, const MacroStep& step);
    void Move(size_t index, size_t to);
    void Duplicate(size_t index);
    void Delete(size_t index, size_t count = 1);
    void Clear();
    Result<> SetName(const std::string& name);  // the refusal of `qz5ctl set ... name`
    // The delay mode on the steps there are: AsRecorded rounds every delay
    // (one that rounds to 0 goes), Fixed gives every gap between two steps
    // exactly one delay of fixedMs, None removes every delay.
    void ApplyDelays(const DelayMode& mode);
    // Replaces the steps with those of a macro text; the name stays.
    Result<> Import(const std::string& text, std::vector<std::string>* notes = nullptr);
    // What `qz5ctl macro export` prints for this macro on profile (0-2), key index (0-19).
    std::string Export(int profile, int keyIndex) const;

    bool CanUndo() const { return !undo_.empty(); }
    bool CanRedo() const { return !redo_.empty(); }
    bool Undo();
    bool Redo();

    // The capacity on key keyIndex of profile (index 0-2, for the words), the
    // other keys as they are there.
    MacroCapacity Measure(const _QZ5_PROFILE& prof, int profile, int keyIndex) const;
    // Makes the key play this macro with this name (its repeat settings kept),
    // or refuses with Measure's refusal and leaves the profile as it was.
    Result<> StoreInto(_QZ5_PROFILE& prof, int profile, int keyIndex) const;
    // The same without the check, for an edit whose writer checks the
    // profile's memory as a whole (EditSettingsFile); steps past
    // kMacroStepMax are left out.
    void PutInto(_QZ5_PROFILE& prof, int keyIndex) const;

private:
    struct State {
        std::vector<MacroStep> steps;
        std::string name;
    };
    void Remember();
    // Goes back to from's last state, keeping the present one on to.
    bool StepTo(std::vector<State>& from, std::vector<State>& to);
    std::vector<MacroStep> steps_;
    std::string name_;
    std::vector<State> undo_, redo_;
};
