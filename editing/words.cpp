#include "editing/words.hpp"

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

#include "config/key_names.hpp"
#include "config/qz5_config.hpp"
#include "config/settings_schema.hpp"

namespace {

// The lighting's on/off settings, in the order of the file.
std::vector<std::string> LightZoneWords() {
    std::vector<std::string> words;
    for (const SettingEntry& e : SettingEntries(SettingDict::Light))
        if (e.max == 1) words.push_back(e.word);
    return words;
}

}  // namespace

const std::vector<std::string> kModifierNames = {"none", "Alt", "Control", "Shift"};
const std::vector<std::string> kZoneNames = LightZoneWords();

namespace {

// Codes above this have no name.
constexpr uint32_t kNamedCodes = 128;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool Same(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

size_t Distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diag = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diag = up;
        }
    }
    return row[b.size()];
}

std::string Joined(const std::vector<std::string>& names, const char* last = ", ") {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) out += (i == 0 ? "" : i + 1 == names.size() ? last : ", ") + names[i];
    return out;
}

// " (did you mean X?)" or " (did you mean X or Y?)" when choices are close to
// word, else "". choices pairs a word with the name to suggest for it.
std::string NearMiss(const std::string& word, const std::vector<std::pair<std::string, std::string>>& choices) {
    const std::string w = Lower(word);
    const size_t limit = w.size() <= 3 ? 1 : 2;
    size_t best = limit + 1;
    std::vector<std::string> names;
    for (const auto& [c, name] : choices) {
        const size_t d = Distance(w, Lower(c));
        if (d > best) continue;
        if (d < best) best = d, names.clear();
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    if (names.empty()) return "";
    names.resize(std::min<size_t>(names.size(), 3));
    return " (did you mean " + Joined(names, " or ") + "?)";
}

// The PC names of keys whose macOS name a PC user would not know, and other
// words people use for keys. A word here that is another key's macOS name is
// ambiguous and refused.
const struct {
    uint32_t vkey;
    const char* pcName;   // nullptr: the macOS name
    const char* aliases;  // space-separated
} kPcWords[] = {
    {0x18, nullptr, "Equals"},
    {0x24, "Enter", ""},
    {0x27, nullptr, "Apostrophe"},
    {0x32, nullptr, "Backtick"},
    {0x33, "Backspace", ""},
    {0x35, nullptr, "Esc"},
    {0x36, "RightSuper", "RightWin RightMeta"},
    {0x37, "Super", "Win Windows Meta LeftSuper Cmd"},
    {0x38, nullptr, "LeftShift"},
    {0x3A, "Alt", "LeftAlt"},
    {0x3B, nullptr, "Ctrl LeftControl LeftCtrl"},
    {0x3D, "AltGr", "RightAlt"},
    {0x3E, nullptr, "RightCtrl"},
    {0x3F, "Fn", ""},
    {0x47, "NumLock", "Clear"},
    {0x5D, "Yen", ""},
    {0x5E, "Ro", ""},
    {0x5F, "KeypadComma", ""},
    {0x66, "Eisu", ""},
    {0x68, "Kana", ""},
    {0x69, "PrintScreen", "PrtSc SysRq"},
    {0x6B, "ScrollLock", "ScrLk"},
    {0x6E, "Menu", "Application Apps"},
    {0x71, "Pause", "Break"},
    {0x72, "Insert", "Ins"},
    {0x74, nullptr, "PgUp"},
    {0x75, "Del", "Delete"},
    {0x79, nullptr, "PgDn"},
    {0x7B, "Left", ""},
    {0x7C, "Right", ""},
    {0x7D, "Down", ""},
    {0x7E, "Up", ""},
};

struct Vocabulary {
    std::vector<KeyWords> keys;
    std::vector<AmbiguousWord> ambiguous;
};

const Vocabulary& Words() {
    static const Vocabulary v = [] {
        Vocabulary v;
        for (uint32_t code = 0; code < kNamedCodes; ++code) {
            const std::string mac = MacKeyName(code);
            if (mac.rfind("key 0x", 0) == 0) continue;
            v.keys.push_back({code, mac, "", {}});
        }
        for (const auto& pc : kPcWords) {
            auto key = std::find_if(v.keys.begin(), v.keys.end(), [&](const KeyWords& k) { return k.vkey == pc.vkey; });
            if (pc.pcName) key->macName = key->name, key->name = pc.pcName;
            std::istringstream in(pc.aliases);
            for (std::string a; in >> a;) key->aliases.push_back(a);
        }
        // A PC word that is another key's macOS name means two keys.
        for (auto& key : v.keys) {
            std::erase_if(key.aliases, [&](const std::string& a) {
                for (const auto& other : v.keys)
                    if (other.vkey != key.vkey && Same(other.macName.empty() ? other.name : other.macName, a)) {
                        v.ambiguous.push_back({a, other.vkey, key.vkey});
                        return true;
                    }
                return false;
            });
        }
        return v;
    }();
    return v;
}

// Every word of a key.
std::vector<std::string> WordsOf(const KeyWords& k) {
    std::vector<std::string> words = {k.name};
    if (!k.macName.empty()) words.push_back(k.macName);
    words.insert(words.end(), k.aliases.begin(), k.aliases.end());
    return words;
}

// "0x34": a code the words may not name.
bool HexCode(const std::string& w, uint32_t& code) {
    if (w.size() < 3 || w.size() > 4 || w[0] != '0' || w[1] != 'x') return false;
    code = 0;
    for (size_t i = 2; i < w.size(); ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(w[i]))) return false;
        code = code * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(w[i])) ? w[i] - '0' : w[i] - 'a' + 10);
    }
    return true;
}

constexpr const char* kSeeKeys = "; qz5ctl keys lists the names";

}  // namespace

const std::vector<KeyWords>& AllKeyWords() { return Words().keys; }

const std::vector<AmbiguousWord>& AmbiguousKeyWords() { return Words().ambiguous; }

const KeyWords* KeyWordsOf(uint32_t vkey) {
    for (const auto& k : Words().keys)
        if (k.vkey == vkey) return &k;
    return nullptr;
}

bool IsLayoutKey(uint32_t vkey) {
    for (int r = 0; r < kStdKeyRowsInUse; ++r)
        if (StdKeyInfo[r].vkey == vkey) return true;
    return false;
}

std::string KeyName(uint32_t vkey) {
    if (const KeyWords* k = KeyWordsOf(vkey)) return k->name;
    static const char kHex[] = "0123456789abcdef";
    std::string hex = "0x";
    if (vkey >= 16) hex += kHex[(vkey >> 4) & 0xF];
    hex += kHex[vkey & 0xF];
    return hex;
}

uint32_t KeyCodeOf(const std::string& word, bool layoutOnly) {
    const std::string w = Lower(word);
    const auto notOnKeyboard = [&](uint32_t code) {
        return WordError(KeyName(code) + " is not one of the keyboard's keys; qz5ctl keys lists them");
    };
    uint32_t code = 0;
    if (HexCode(w, code)) {
        if (layoutOnly && !IsLayoutKey(code)) throw notOnKeyboard(code);
        return code;
    }
    for (const auto& a : AmbiguousKeyWords())
        if (Same(a.word, w))
            throw WordError("'" + word + "' is " + KeyName(a.macKey) + " in the macOS names and " + KeyName(a.pcKey) +
                            " on a PC: type " + KeyName(a.macKey) + " or " + KeyName(a.pcKey));
    for (const auto& k : AllKeyWords())
        for (const auto& kw : WordsOf(k))
            if (Same(kw, w)) {
                if (layoutOnly && !IsLayoutKey(k.vkey)) throw notOnKeyboard(k.vkey);
                return k.vkey;
            }
    // A unique beginning, and the words the message may suggest.
    std::set<uint32_t> begun;
    std::vector<std::pair<std::string, std::string>> choices;
    const auto consider = [&](const std::string& kw, uint32_t vkey) {
        if (layoutOnly && !IsLayoutKey(vkey)) return;
        if (w.size() >= 2 && Lower(kw).compare(0, w.size(), w) == 0) begun.insert(vkey);
        choices.emplace_back(kw, KeyName(vkey));
    };
    for (const auto& k : AllKeyWords())
        for (const auto& kw : WordsOf(k)) consider(kw, k.vkey);
    for (const auto& a : AmbiguousKeyWords()) consider(a.word, a.pcKey);
    if (begun.size() == 1) return *begun.begin();
    if (begun.size() > 1) {
        std::vector<std::string> names;
        for (uint32_t v : begun) names.push_back(KeyName(v));
        const size_t n = names.size();
        if (n > 4) names.resize(3), names.push_back("...");
        throw WordError("'" + word + "' could be " + Joined(names, n > 4 ? ", " : " or ") + " (" + std::to_string(n) +
                        " keys)" + kSeeKeys);
    }
    throw WordError("no " + std::string(layoutOnly ? "key of the keyboard" : "key") + " named '" + word + "'" +
                    NearMiss(word, choices) + kSeeKeys);
}

size_t Choose(const std::string& word, const std::vector<std::string>& choices, const std::string& what) {
    const std::string w = Lower(word);
    for (size_t i = 0; i < choices.size(); ++i)
        if (Lower(choices[i]) == w) return i;
    std::vector<std::pair<std::string, std::string>> near;
    for (const auto& c : choices) near.emplace_back(c, c);
    throw WordError((word.empty() ? "expected a " + what : "no " + what + " '" + word + "'") + NearMiss(word, near) +
                    "; expected " + Joined(choices));
}

uint32_t NumberIn(const std::string& word, uint32_t min, uint32_t max, const std::string& what) {
    uint64_t v = 0;
    bool ok = !word.empty() && word.size() <= 10;
    for (char c : word) {
        ok = ok && c >= '0' && c <= '9';
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!ok || v < min || v > max)
        throw WordError(what + " is a number from " + std::to_string(min) + " to " + std::to_string(max) +
                        ", not '" + word + "'");
    return static_cast<uint32_t>(v);
}

int ProgKeyIndex(const std::string& word) {
    const std::string w = Lower(word);
    if (w.size() >= 2 && w.size() <= 3 && (w[0] == 't' || w[0] == 'm') && w[1] != '0' &&
        std::all_of(w.begin() + 1, w.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const int n = std::stoi(w.substr(1));
        if (w[0] == 't' && n <= kTKeyCount) return n - 1;
        if (w[0] == 'm' && n <= kMappingKeyCount) return kTKeyCount + n - 1;
    }
    throw WordError("no programmable key '" + word + "'; expected T1-T12 or M1-M8");
}

std::string ProgKeyName(int index) {
    // Appended rather than written "T" + std::to_string(n): GCC 12 at -O3
    // reports a false -Wrestrict inside libstdc++ for a one-character literal
    // joined to a temporary string (GCC bug 105329).
    std::string name(1, index < kTKeyCount ? 'T' : 'M');
    name += std::to_string(index < kTKeyCount ? index + 1 : index - kTKeyCount + 1);
    return name;
}
