// The words qz5ctl reads and prints for settings: key names, modifiers, light
// zones, programmable keys. Lookups are case-insensitive; a word that names
// nothing throws WordError with a one-line message that names the nearest
// choices.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

struct WordError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The words for one key. The settings file stores macOS key codes, and its
// key names are the macOS ones (Delete for the key a PC calls Backspace); a
// Linux user knows the keys by their PC names, which qz5ctl prints.
struct KeyWords {
    uint32_t vkey;                     // macOS virtual key code
    std::string name;                  // the PC name, the one printed ("Backspace")
    std::string macName;               // the macOS name ("Delete"); empty when the same
    std::vector<std::string> aliases;  // other words for it ("BS"), never ambiguous
};

// Every named key, in code order.
const std::vector<KeyWords>& AllKeyWords();
// The words of a code, or nullptr when it has none.
const KeyWords* KeyWordsOf(uint32_t vkey);
// Whether the code is a key of the keyboard's layout (a row of StdKeyInfo).
bool IsLayoutKey(uint32_t vkey);
// Words that name one key in the macOS names and another in the PC names
// ("Delete"): each with the two keys, macOS first.
struct AmbiguousWord {
    std::string word;
    uint32_t macKey, pcKey;
};
const std::vector<AmbiguousWord>& AmbiguousKeyWords();

// The name printed for a macOS key code (0-255): its PC name, or "0x34" for
// a code without one. KeyCodeOf takes it back.
std::string KeyName(uint32_t vkey);
// The macOS key code a word names: a PC name, a macOS name or another word
// for a key, in any case, or a unique beginning of one ("caps", "backs"), or
// a code as "0x34". With layoutOnly, only the keys of the keyboard's layout.
// A word that means different keys in the two vocabularies is refused.
uint32_t KeyCodeOf(const std::string& word, bool layoutOnly);

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
