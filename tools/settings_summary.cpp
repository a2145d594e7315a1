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

// A programmable key's action, macro name, repeat option and, for a mapping
// key, where it sits, as the clauses `qz5ctl set PROFILE KEY ...` takes; what
// the clauses cannot say follows as a comment.
std::string Action(int index, const _TKEY_INFO& k) {
    std::string s, note;
    if (index >= kTKeyCount && k.MAPKEY_KEYCODE != 0) s = "on " + KeyName((k.MAPKEY_KEYCODE - 1) & 0xFF) + " ";
    switch (k.FUNCID) {
        case 0: s += "none"; break;
        case 1: s += "key " + KeyName(k.SINGLE_KEYCODE & 0xFF); break;
        case 2: s += "macro", note = std::to_string(k.MACRO.LENGTH) + " steps"; break;
        case 3: s += "launch " + Quoted(k.LAUNCHPATH); break;
        default: s += "none", note = "FUNCID " + std::to_string(k.FUNCID); break;
    }
    if (k.MACRO.MACRONAME[0] != '\0') s += " name " + Quoted(k.MACRO.MACRONAME);
    if (k.MACRO.REPEAT_OPTION != 0) s += " repeat " + std::to_string(k.MACRO.REPEAT_OPTION);
    return note.empty() ? s : s + "  # " + note;
}

}  // namespace

std::string SettingsSummary(const _QZ5_CONFIG& rec) {
    std::string out = "# every setting, one a line, in the words qz5ctl set takes\n";
    Add(out, "profile %u\n", rec.PROFILE_ID + 1);
    Add(out, "game %s\n", OnOff(rec.GAME_MODE));
    const _QZ5_LIGHT& l = rec.LIGHT_OPTION;
    const uint32_t zones[] = {l.WASDLIGHT, l.DIRECTLIGHT, l.NUMBERLIGHT, l.PELLFLAGLIGHT};
    std::string lit;
    for (size_t z = 0; z < kZoneNames.size(); ++z)
        if (zones[z]) lit += (lit.empty() ? "" : ",") + kZoneNames[z];
    Add(out, "light style %u zones %s\n", l.LIGHT_STYLE, lit.empty() ? "none" : lit.c_str());
    for (int p = 0; p < kProfileCount; ++p) {
        const _QZ5_PROFILE& prof = rec.PROFILE[p];
        out += "\n";
        int remapped = 0;
        for (int k = 0; k < kStdKeyRowsInUse; ++k) {
            const uint32_t v = prof.KEY[k];
            if (v == 0 || v == StdKeyInfo[k].vkey + 1) continue;
            ++remapped;
            Add(out, "%d key %s %s\n", p + 1, KeyName(StdKeyInfo[k].vkey).c_str(), KeyName((v - 1) & 0xFF).c_str());
        }
        if (remapped == 0) Add(out, "# profile %d: every key gives itself\n", p + 1);
        for (int i = 0; i < kProgKeyCount; ++i)
            Add(out, "%d %s %s\n", p + 1, ProgKeyName(i).c_str(),
                Action(i, i < kTKeyCount ? prof.TKEYINFO[i] : prof.MAPPINGKEYINFO[i - kTKeyCount]).c_str());
        const uint32_t sides[] = {prof.INSTANT_SHIFT.NEXTKEY, prof.INSTANT_SHIFT.PREKEY};
        std::string note;
        for (const uint32_t v : sides)
            if (v >= kModifierNames.size()) note += (note.empty() ? "  # " : ", ") + std::to_string(v) + " is none";
        Add(out, "%d shift next %s previous %s%s\n", p + 1, kModifierNames[sides[0] < 4 ? sides[0] : 0].c_str(),
            kModifierNames[sides[1] < 4 ? sides[1] : 0].c_str(), note.c_str());
    }
    return out;
}
