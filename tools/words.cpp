#include "tools/words.hpp"

#include <algorithm>
#include <cctype>
#include <utility>

#include "config/key_names.hpp"
#include "config/qz5_config.hpp"

const std::vector<std::string> kModifierNames = {"none", "Alt", "Control", "Shift"};
const std::vector<std::string> kZoneNames = {"wasd", "arrows", "numbers", "flag"};

namespace {

constexpr uint32_t kNamedCodes = 128;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

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

std::string Joined(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}

// "(did you mean X?) " when one choice is close to word, else "".
std::string NearMiss(const std::string& word, const std::vector<std::string>& choices) {
    const std::string w = Lower(word);
    size_t best = std::string::npos;
    std::string name;
    for (const auto& c : choices) {
        const size_t d = Distance(w, Lower(c));
        if (d < best) best = d, name = c;
    }
    const size_t limit = w.size() <= 3 ? 1 : 2;
    return best <= limit ? " (did you mean " + name + "?)" : "";
}

// Other words people use for keys of this layout.
const std::pair<const char*, const char*> kAliases[] = {
    {"esc", "Escape"},       {"enter", "Return"},    {"backspace", "Delete"},
    {"alt", "Option"},       {"ctrl", "Control"},    {"cmd", "Command"},
    {"super", "Command"},    {"menu", "ContextualMenu"}, {"left", "LeftArrow"},
    {"right", "RightArrow"}, {"up", "UpArrow"},      {"down", "DownArrow"},
    {"pgup", "PageUp"},      {"pgdn", "PageDown"},   {"caps", "CapsLock"},
};

std::vector<std::pair<std::string, uint32_t>> KeyNames(bool layoutOnly) {
    std::vector<std::pair<std::string, uint32_t>> names;
    if (layoutOnly) {
        for (int r = 0; r < kStdKeyRowsInUse; ++r) names.emplace_back(MacKeyName(StdKeyInfo[r].vkey), StdKeyInfo[r].vkey);
    } else {
        for (uint32_t v = 0; v < kNamedCodes; ++v)
            if (HasKeyName(v)) names.emplace_back(MacKeyName(v), v);
    }
    return names;
}

}  // namespace

bool HasKeyName(uint32_t vkey) { return vkey < kNamedCodes && MacKeyName(vkey).rfind("key 0x", 0) != 0; }

std::string KeyNameList(bool layoutOnly) {
    std::vector<std::string> names;
    for (const auto& [name, code] : KeyNames(layoutOnly)) names.push_back(name);
    return Joined(names);
}

uint32_t KeyCodeOf(const std::string& word, bool layoutOnly) {
    const auto names = KeyNames(layoutOnly);
    std::string w = Lower(word);
    for (const auto& [alias, name] : kAliases)
        if (w == alias) w = Lower(name);
    std::vector<const std::pair<std::string, uint32_t>*> prefixed;
    for (const auto& n : names) {
        const std::string l = Lower(n.first);
        if (l == w) return n.second;
        if (w.size() >= 2 && l.compare(0, w.size(), w) == 0) prefixed.push_back(&n);
    }
    if (prefixed.size() == 1) return prefixed[0]->second;
    std::vector<std::string> choices;
    for (const auto& n : names) choices.push_back(n.first);
    const char* kind = layoutOnly ? "key of the keyboard" : "key";
    if (prefixed.size() > 1) {
        std::vector<std::string> matches;
        for (const auto* n : prefixed) matches.push_back(n->first);
        throw WordError("'" + word + "' could be any of " + Joined(matches));
    }
    throw WordError("no " + std::string(kind) + " named '" + word + "'" + NearMiss(word, choices) +
                    "; the names: " + Joined(choices));
}

size_t Choose(const std::string& word, const std::vector<std::string>& choices, const std::string& what) {
    const std::string w = Lower(word);
    for (size_t i = 0; i < choices.size(); ++i)
        if (Lower(choices[i]) == w) return i;
    throw WordError((word.empty() ? "expected a " + what : "no " + what + " '" + word + "'") +
                    NearMiss(word, choices) + "; expected " + Joined(choices));
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
