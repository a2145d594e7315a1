// Macros as text, one step a line:
//   press KEY / release KEY / tap KEY (a press and a release)
//   delay N
//   click left|right|middle / wheel up|down
//   pageup pagedown copy paste undo backspace cut selectall find print save new
//   raw KEYCODE KEYFLAG (a step exactly as the settings file stores it)
// "#" starts a comment; blank lines are ignored. Steps print in this form and
// read back to the same record.
#pragma once

#include <string>
#include <vector>

#include "config/qz5_config.hpp"

// The steps of a macro, one a line.
std::string MacroText(const _MACRO_INFO& macro);

// One line of a macro text and the records it stands for: two for a tap,
// else one.
struct MacroLine {
    std::string text;  // without the newline
    uint32_t records;
};
// The lines of count records, as MacroText prints them.
std::vector<MacroLine> MacroLines(const _KEYMAP_INFO* steps, uint32_t count);

// What `qz5ctl macro export` prints for a macro of profile (0-2) and key
// index (0-19): a comment line with its name and length, then its steps.
std::string MacroExport(int profile, int keyIndex, const std::string& name, const _KEYMAP_INFO* steps,
                        uint32_t count);

// The refusal for a macro of steps records, more than a key holds.
std::string TooManyStepsMessage(size_t steps);

// The steps of a macro text. Throws WordError naming the line of the first
// mistake (counted from firstLine), or the steps over kMacroStepMax. notes
// gets what the keyboard will make of a step differently from what it says
// (delays over 65535).
std::vector<_KEYMAP_INFO> ParseMacroText(const std::string& text, std::vector<std::string>& notes, int firstLine = 1);
