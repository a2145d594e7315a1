#include "tools/settings_summary.hpp"

#include <cstdio>
#include <string>

#include "config/key_names.hpp"

namespace {

void Add(std::string& out, const char* fmt, auto... args) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, fmt, args...);
    out += buf;
}

const char* OnOff(uint32_t v) { return v ? "on" : "off"; }

const char* ModifierName(uint32_t selector) {
    switch (selector) {
        case 0: return "none";
        case 1: return "Alt";
        case 2: return "Control";
        case 3: return "Shift";
        default: return "none (invalid)";
    }
}

// The key a value of the key encoding (macOS code + 1, 0 none) stands for.
std::string KeyOfPlusOne(uint32_t v) { return v == 0 ? "none" : MacKeyName((v - 1) & 0xFF); }

std::string Action(const _TKEY_INFO& k) {
    switch (k.FUNCID) {
        case 0: return "none";
        case 1: return "single key " + MacKeyName(k.SINGLE_KEYCODE & 0xFF);
        case 2: {
            std::string s = "macro \"" + std::string(k.MACRO.MACRONAME) + "\", " +
                            std::to_string(k.MACRO.LENGTH) + " steps, repeat option " +
                            std::to_string(k.MACRO.REPEAT_OPTION);
            return s;
        }
        case 3: return "launch \"" + std::string(k.LAUNCHPATH) + "\"";
        default: return "none (FUNCID " + std::to_string(k.FUNCID) + ")";
    }
}

}  // namespace

std::string SettingsSummary(const _QZ5_CONFIG& rec) {
    std::string out;
    Add(out, "current profile: %u\n", rec.PROFILE_ID + 1);
    Add(out, "game mode: %s\n", OnOff(rec.GAME_MODE));
    const _QZ5_LIGHT& l = rec.LIGHT_OPTION;
    Add(out, "lighting: style %u, WASD %s, direction %s, number %s, flag %s\n", l.LIGHT_STYLE,
        OnOff(l.WASDLIGHT), OnOff(l.DIRECTLIGHT), OnOff(l.NUMBERLIGHT), OnOff(l.PELLFLAGLIGHT));
    for (int p = 0; p < kProfileCount; ++p) {
        const _QZ5_PROFILE& prof = rec.PROFILE[p];
        Add(out, "\nprofile %d\n", p + 1);
        int remapped = 0;
        for (int k = 0; k < kStdKeyRowsInUse; ++k) {
            const uint32_t v = prof.KEY[k];
            if (v == 0 || v == StdKeyInfo[k].vkey + 1) continue;
            if (remapped++ == 0) out += "  remapped keys:\n";
            Add(out, "    %s -> %s\n", MacKeyName(StdKeyInfo[k].vkey).c_str(), KeyOfPlusOne(v).c_str());
        }
        if (remapped == 0) out += "  remapped keys: none\n";
        for (int t = 0; t < kTKeyCount; ++t)
            Add(out, "  T%d: %s\n", t + 1, Action(prof.TKEYINFO[t]).c_str());
        for (int m = 0; m < kMappingKeyCount; ++m) {
            const _TKEY_INFO& k = prof.MAPPINGKEYINFO[m];
            Add(out, "  M%d on %s: %s\n", m + 1, KeyOfPlusOne(k.MAPKEY_KEYCODE).c_str(), Action(k).c_str());
        }
        Add(out, "  instant shift: next %s, previous %s\n", ModifierName(prof.INSTANT_SHIFT.NEXTKEY),
            ModifierName(prof.INSTANT_SHIFT.PREKEY));
    }
    return out;
}
