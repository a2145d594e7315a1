#include "config/settings_schema.hpp"

#include <cstdlib>
#include <limits>

namespace {

constexpr uint32_t kAny = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kTextMax = kTextSize - 1;

constexpr SettingEntry Integer(const char* key, size_t offset, uint32_t max, const char* word = nullptr,
                               AboveMax above = AboveMax::Kept) {
    return {key, 0, SettingKind::Integer, offset, 0, SettingDict::Root, max, above, -1, word};
}
constexpr SettingEntry Integers(const char* prefix, int count, size_t offset, uint32_t max, const char* word) {
    return {prefix, count, SettingKind::Integer, offset, sizeof(uint32_t), SettingDict::Root, max, AboveMax::Kept, -1,
            word};
}
constexpr SettingEntry Text(const char* key, size_t offset, const char* word) {
    return {key, 0, SettingKind::Text, offset, 0, SettingDict::Root, kTextMax, AboveMax::Kept, -1, word};
}
constexpr SettingEntry Dict(const char* key, SettingDict dict, size_t offset, const char* word = nullptr) {
    return {key, 0, SettingKind::Dict, offset, 0, dict, 0, AboveMax::Kept, -1, word};
}
constexpr SettingEntry Dicts(const char* prefix, int count, SettingDict dict, size_t offset, size_t stride,
                             int countFrom = -1) {
    return {prefix, count, SettingKind::Dict, offset, stride, dict, 0, AboveMax::Kept, countFrom, nullptr};
}

// In the order the writer stores them.
constexpr SettingEntry kRoot[] = {
    // A profile number the record cannot hold selects the first profile.
    Integer("PROFILE_ID", offsetof(_QZ5_CONFIG, PROFILE_ID), kProfileCount - 1, "profile", AboveMax::ReadsZero),
    Integer("GAME_MODE", offsetof(_QZ5_CONFIG, GAME_MODE), 1, "game"),
    Dict("LIGHT_OPTION", SettingDict::Light, offsetof(_QZ5_CONFIG, LIGHT_OPTION), "light"),
    Dicts("PROFILE_", kProfileCount, SettingDict::Profile, offsetof(_QZ5_CONFIG, PROFILE), sizeof(_QZ5_PROFILE)),
};

// The zones after the style, in the order of the zone words.
constexpr SettingEntry kLight[] = {
    Integer("LIGHT_STYLE", offsetof(_QZ5_LIGHT, LIGHT_STYLE), 4, "style"),
    Integer("WASDLIGHT", offsetof(_QZ5_LIGHT, WASDLIGHT), 1, "wasd"),
    Integer("DIRECTLIGHT", offsetof(_QZ5_LIGHT, DIRECTLIGHT), 1, "arrows"),
    Integer("NUMBERLIGHT", offsetof(_QZ5_LIGHT, NUMBERLIGHT), 1, "numbers"),
    Integer("PELLFLAGLIGHT", offsetof(_QZ5_LIGHT, PELLFLAGLIGHT), 1, "flag"),
};

// A key slot's value v produces macOS key v - 1; 0 is the key's own.
constexpr SettingEntry kProfile[] = {
    Integers("KEY_", kKeySlotCount, offsetof(_QZ5_PROFILE, KEY), 0x100, "key"),
    Dicts("TKEYINFO_", kTKeyCount, SettingDict::KeyInfo, offsetof(_QZ5_PROFILE, TKEYINFO), sizeof(_TKEY_INFO)),
    Dicts("MAPPINGKEYINFO_", kMappingKeyCount, SettingDict::KeyInfo, offsetof(_QZ5_PROFILE, MAPPINGKEYINFO),
          sizeof(_TKEY_INFO)),
    Dict("INSTANT_SHIFT", SettingDict::Shift, offsetof(_QZ5_PROFILE, INSTANT_SHIFT), "shift"),
};

constexpr SettingEntry kKeyInfo[] = {
    Integer("FUNCID", offsetof(_TKEY_INFO, FUNCID), 3),
    Text("LAUNCHPATH", offsetof(_TKEY_INFO, LAUNCHPATH), "launch"),
    Integer("SINGLE_KEYCODE", offsetof(_TKEY_INFO, SINGLE_KEYCODE), 0xFF, "key"),
    Integer("MAPKEY_KEYCODE", offsetof(_TKEY_INFO, MAPKEY_KEYCODE), 0x100, "on"),
    Dict("MACRO", SettingDict::Macro, offsetof(_TKEY_INFO, MACRO)),
};

constexpr SettingEntry kMacro[] = {
    Text("MACRONAME", offsetof(_MACRO_INFO, MACRONAME), "name"),
    // A macro longer than the record holds keeps its first kMacroStepMax steps.
    Integer("LENGTH", offsetof(_MACRO_INFO, LENGTH), kMacroStepMax, nullptr, AboveMax::ReadsMax),
    Integer("REPEAT_OPTION", offsetof(_MACRO_INFO, REPEAT_OPTION), 3, "repeat"),
    Integer("REPEAT_TIMES", offsetof(_MACRO_INFO, REPEAT_TIMES), kAny),
    Dicts("KEYMAP_", kMacroStepMax, SettingDict::Step, offsetof(_MACRO_INFO, KEYMAP), sizeof(_KEYMAP_INFO),
          1),
};

static_assert(std::string_view(kMacro[kMacro[4].countFrom].key) == "LENGTH");

constexpr SettingEntry kStep[] = {
    Integer("KEYCODE", offsetof(_KEYMAP_INFO, KEYCODE), kAny),
    Integer("KEYFLAG", offsetof(_KEYMAP_INFO, KEYFLAG), kAny),
};

constexpr SettingEntry kShift[] = {
    Integer("PREKEY", offsetof(_INSTANT_SHIFT, PREKEY), 3, "previous"),
    Integer("NEXTKEY", offsetof(_INSTANT_SHIFT, NEXTKEY), 3, "next"),
};

constexpr std::span<const SettingEntry> kDicts[kSettingDictCount] = {kRoot, kLight, kProfile, kKeyInfo,
                                                                     kMacro, kStep,  kShift};

// "PREFIXn" with n a decimal number without leading zeros, 1 to max: n; 0 otherwise.
int IndexedKey(std::string_view key, std::string_view prefix, int max) {
    if (key.size() <= prefix.size() || key.substr(0, prefix.size()) != prefix) return 0;
    const std::string_view digits = key.substr(prefix.size());
    if (digits[0] == '0' || digits.size() > 6) return 0;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return n <= max ? n : 0;
}

}  // namespace

std::span<const SettingEntry> SettingEntries(SettingDict dict) { return kDicts[static_cast<int>(dict)]; }

const SettingEntry* FindSetting(SettingDict dict, std::string_view key, int* index) {
    for (const SettingEntry& e : SettingEntries(dict)) {
        if (e.count == 0) {
            if (key != e.key) continue;
            if (index) *index = 0;
            return &e;
        }
        if (const int n = IndexedKey(key, e.key, e.count)) {
            if (index) *index = n - 1;
            return &e;
        }
    }
    return nullptr;
}

const SettingEntry& Setting(SettingDict dict, std::string_view key) {
    for (const SettingEntry& e : SettingEntries(dict))
        if (key == e.key) return e;
    std::abort();  // a name missing from the table is a mistake in the program
}

int EntriesInUse(const void* base, std::span<const SettingEntry> dict, const SettingEntry& e) {
    if (e.count == 0) return 1;
    if (e.countFrom < 0) return e.count;
    const uint32_t n = IntegerField(base, dict[static_cast<size_t>(e.countFrom)]);
    return n < static_cast<uint32_t>(e.count) ? static_cast<int>(n) : e.count;
}
