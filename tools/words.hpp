// The words qz5ctl reads and prints for settings: key names, modifiers, light
// zones, programmable keys. Lookups are case-insensitive; a word that names
// nothing throws WordError with a one-line message that names the choices and
// the nearest one.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

struct WordError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The macOS key code of a key name ("CapsLock", "capslock", "caps", "esc").
// Any named key, or with layoutOnly only the keys of the keyboard's layout.
uint32_t KeyCodeOf(const std::string& word, bool layoutOnly);
// Whether the code has a name KeyCodeOf accepts.
bool HasKeyName(uint32_t vkey);
// All key names, in code order (layoutOnly: in layout order), comma-separated.
std::string KeyNameList(bool layoutOnly);

// Index of word among choices (case-insensitive, whole words); what names the
// kind of word for the message ("modifier", "zone").
size_t Choose(const std::string& word, const std::vector<std::string>& choices, const std::string& what);

// A whole decimal number in [min, max]; what names it for the message.
uint32_t NumberIn(const std::string& word, uint32_t min, uint32_t max, const std::string& what);

// Instant-shift modifiers, by record value 0-3.
extern const std::vector<std::string> kModifierNames;  // none, Alt, Control, Shift
// Light zones in record order: WASD, arrows, number pad, flag lamp.
extern const std::vector<std::string> kZoneNames;

// A programmable key: "t1"-"t12" (index 0-11) or "m1"-"m8" (index 12-19).
int ProgKeyIndex(const std::string& word);
std::string ProgKeyName(int index);  // "T3", "M2"
