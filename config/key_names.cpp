#include "config/key_names.hpp"

#include <array>
#include <cstdio>

namespace {

constexpr std::array<const char*, 128> kNames = {
    "A", "S", "D", "F", "H", "G", "Z", "X",                                   // 0x00
    "C", "V", "Section", "B", "Q", "W", "E", "R",                             // 0x08
    "Y", "T", "1", "2", "3", "4", "6", "5",                                   // 0x10
    "Equal", "9", "7", "Minus", "8", "0", "RightBracket", "O",                // 0x18
    "U", "LeftBracket", "I", "P", "Return", "L", "J", "Quote",                // 0x20
    "K", "Semicolon", "Backslash", "Comma", "Slash", "N", "M", "Period",      // 0x28
    "Tab", "Space", "Grave", "Delete", nullptr, "Escape", "RightCommand", "Command",  // 0x30
    "Shift", "CapsLock", "Option", "Control", "RightShift", "RightOption", "RightControl",
    "Function",                                                               // 0x38
    "F17", "KeypadDecimal", nullptr, "KeypadMultiply", nullptr, "KeypadPlus", nullptr,
    "KeypadClear",                                                            // 0x40
    "VolumeUp", "VolumeDown", "Mute", "KeypadDivide", "KeypadEnter", nullptr, "KeypadMinus",
    "F18",                                                                    // 0x48
    "F19", "KeypadEquals", "Keypad0", "Keypad1", "Keypad2", "Keypad3", "Keypad4",
    "Keypad5",                                                                // 0x50
    "Keypad6", "Keypad7", "F20", "Keypad8", "Keypad9", "JIS_Yen", "JIS_Underscore",
    "JIS_KeypadComma",                                                        // 0x58
    "F5", "F6", "F7", "F3", "F8", "F9", "JIS_Eisu", "F11",                    // 0x60
    "JIS_Kana", "F13", "F16", "F14", nullptr, "F10", "ContextualMenu", "F12", // 0x68
    nullptr, "F15", "Help", "Home", "PageUp", "ForwardDelete", "F4", "End",   // 0x70
    "F2", "PageDown", "F1", "LeftArrow", "RightArrow", "DownArrow", "UpArrow",
    nullptr,                                                                  // 0x78
};

}  // namespace

std::string MacKeyName(uint32_t vkey) {
    if (vkey < kNames.size() && kNames[vkey] != nullptr) return kNames[vkey];
    char buf[32];
    std::snprintf(buf, sizeof buf, "key 0x%02x", static_cast<unsigned>(vkey));
    return buf;
}
