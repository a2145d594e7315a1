#include "tools/settings_summary.hpp"

#include <cstdio>
#include <string>

#include "tools/profile_text.hpp"
#include "tools/words.hpp"

namespace {

void Add(std::string& out, const char* fmt, auto... args) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, fmt, args...);
    out += buf;
}

const char* OnOff(uint32_t v) { return v ? "on" : "off"; }

std::string ModifierName(uint32_t selector) {
    return selector < kModifierNames.size() ? kModifierNames[selector] : "none (invalid)";
}

// The key a value of the key encoding (macOS code + 1, 0 none) stands for.
std::string KeyOfPlusOne(uint32_t v) { return v == 0 ? "none" : KeyName((v - 1) & 0xFF); }

// A programmable key's action, macro name and repeat option, in the words
// `qz5ctl set PROFILE KEY ...` takes.
std::string Action(const _TKEY_INFO& k) {
    std::string s;
    switch (k.FUNCID) {
        case 0: s = "none"; break;
        case 1: s = "key " + KeyName(k.SINGLE_KEYCODE & 0xFF); break;
        case 2: s = "macro (" + std::to_string(k.MACRO.LENGTH) + " steps)"; break;
        case 3: s = "launch " + Quoted(k.LAUNCHPATH); break;
        default: s = "none (FUNCID " + std::to_string(k.FUNCID) + ")"; break;
    }
    if (k.MACRO.MACRONAME[0] != '\0') s += ", name " + Quoted(k.MACRO.MACRONAME);
    if (k.MACRO.REPEAT_OPTION != 0) s += ", repeat " + std::to_string(k.MACRO.REPEAT_OPTION);
    return s;
}

}  // namespace

std::string SettingsSummary(const _QZ5_CONFIG& rec) {
    std::string out;
    Add(out, "current profile: %u\n", rec.PROFILE_ID + 1);
    Add(out, "game mode: %s\n", OnOff(rec.GAME_MODE));
    const _QZ5_LIGHT& l = rec.LIGHT_OPTION;
    const uint32_t zones[] = {l.WASDLIGHT, l.DIRECTLIGHT, l.NUMBERLIGHT, l.PELLFLAGLIGHT};
    std::string lit;
    for (size_t z = 0; z < kZoneNames.size(); ++z)
        if (zones[z]) lit += (lit.empty() ? "" : ",") + kZoneNames[z];
    Add(out, "light: style %u, zones %s\n", l.LIGHT_STYLE, lit.empty() ? "none" : lit.c_str());
    for (int p = 0; p < kProfileCount; ++p) {
        const _QZ5_PROFILE& prof = rec.PROFILE[p];
        Add(out, "\nprofile %d\n", p + 1);
        int remapped = 0;
        for (int k = 0; k < kStdKeyRowsInUse; ++k) {
            const uint32_t v = prof.KEY[k];
            if (v == 0 || v == StdKeyInfo[k].vkey + 1) continue;
            ++remapped;
            Add(out, "  key %s -> %s\n", KeyName(StdKeyInfo[k].vkey).c_str(), KeyOfPlusOne(v).c_str());
        }
        if (remapped == 0) out += "  keys: all default\n";
        for (int t = 0; t < kTKeyCount; ++t)
            Add(out, "  T%d: %s\n", t + 1, Action(prof.TKEYINFO[t]).c_str());
        for (int m = 0; m < kMappingKeyCount; ++m) {
            const _TKEY_INFO& k = prof.MAPPINGKEYINFO[m];
            Add(out, "  M%d on %s: %s\n", m + 1, KeyOfPlusOne(k.MAPKEY_KEYCODE).c_str(), Action(k).c_str());
        }
        Add(out, "  instant shift: next %s, previous %s\n", ModifierName(prof.INSTANT_SHIFT.NEXTKEY).c_str(),
            ModifierName(prof.INSTANT_SHIFT.PREKEY).c_str());
    }
    return out;
}
