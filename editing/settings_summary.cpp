#include "editing/settings_summary.hpp"

#include <string>

#include "config/settings_schema.hpp"
#include "editing/profile_text.hpp"
#include "editing/words.hpp"

namespace {

// A line of set's words, or, when set would not take it back as the record
// holds it, the same line as a comment.
std::string Line(const std::string& words, bool exact) {
    return exact ? words + "\n" : "# " + words + "  (not as the file holds it; profile export keeps it)\n";
}

bool HasControl(const char* text) {
    for (const char* c = text; *c; ++c)
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) return true;
    return false;
}

// A programmable key's action, macro name, repeat option and, for a mapping
// key, where it sits, as the clauses `qz5ctl set PROFILE KEY ...` takes;
// exact tells whether set would store them as they are.
uint32_t Max(SettingDict dict, const char* key) { return Setting(dict, key).max; }
// qz5ctl's word for a setting.
std::string Word(SettingDict dict, const char* key) { return Setting(dict, key).word; }

std::string Action(int index, const _TKEY_INFO& k, bool& exact) {
    std::string s, note;
    const uint32_t placed = k.MAPKEY_KEYCODE;
    exact = k.FUNCID <= Max(SettingDict::KeyInfo, "FUNCID") &&
            k.MACRO.REPEAT_OPTION <= Max(SettingDict::Macro, "REPEAT_OPTION") && !HasControl(k.MACRO.MACRONAME);
    if (index >= kTKeyCount && placed != 0) {
        s = Word(SettingDict::KeyInfo, "MAPKEY_KEYCODE") + " " + KeyName((placed - 1) & 0xFF) + " ";
        exact = exact && placed <= Max(SettingDict::KeyInfo, "MAPKEY_KEYCODE") && IsLayoutKey(placed - 1);
    }
    switch (k.FUNCID) {
        case 0: s += "none"; break;
        case 1:
            s += Word(SettingDict::KeyInfo, "SINGLE_KEYCODE") + " " + KeyName(k.SINGLE_KEYCODE & 0xFF);
            exact = exact && k.SINGLE_KEYCODE <= Max(SettingDict::KeyInfo, "SINGLE_KEYCODE");
            break;
        case 2: s += "macro", note = std::to_string(k.MACRO.LENGTH) + " steps"; break;
        case 3:
            s += Word(SettingDict::KeyInfo, "LAUNCHPATH") + " " + Quoted(k.LAUNCHPATH);
            exact = exact && (k.LAUNCHPATH[0] == '/' || k.LAUNCHPATH[0] == '\0') && !HasControl(k.LAUNCHPATH);
            break;
        default: s += "FUNCID " + std::to_string(k.FUNCID); break;
    }
    // Appended piece by piece: GCC 12 at -O3 warns falsely about "text" + string.
    if (k.MACRO.MACRONAME[0] != '\0') s.append(" ").append(Word(SettingDict::Macro, "MACRONAME")).append(" ").append(Quoted(k.MACRO.MACRONAME));
    if (k.MACRO.REPEAT_OPTION != 0)
        s.append(" ").append(Word(SettingDict::Macro, "REPEAT_OPTION")).append(" ").append(std::to_string(k.MACRO.REPEAT_OPTION));
    return note.empty() || !exact ? s : s + "  # " + note;
}

}  // namespace

std::string SettingsSummary(const _QZ5_CONFIG& rec) {
    std::string out = "# every setting, one a line, in the words qz5ctl set takes\n";
    out += Word(SettingDict::Root, "PROFILE_ID") + " " + std::to_string(rec.PROFILE_ID + 1) + "\n";
    out += Line(Word(SettingDict::Root, "GAME_MODE") + (rec.GAME_MODE ? " on" : " off"),
                rec.GAME_MODE <= Max(SettingDict::Root, "GAME_MODE"));
    // The light line: the style's number, then the zones that are on.
    std::string style, lit;
    bool exact = true;
    for (const SettingEntry& e : SettingEntries(SettingDict::Light)) {
        const uint32_t v = IntegerField(&rec.LIGHT_OPTION, e);
        exact = exact && v <= e.max;
        if (e.max > 1) style += std::string(" ") + e.word + " " + std::to_string(v);
        else if (v) lit.append(lit.empty() ? "" : ",").append(e.word);
    }
    out += Line(Word(SettingDict::Root, "LIGHT_OPTION") + style + " zones " + (lit.empty() ? "none" : lit), exact);
    for (int p = 0; p < kProfileCount; ++p) {
        const _QZ5_PROFILE& prof = rec.PROFILE[p];
        const std::string number = std::to_string(p + 1);
        out += "\n";
        int remapped = 0;
        for (int k = 0; k < kStdKeyRowsInUse; ++k) {
            const uint32_t v = prof.KEY[k];
            if (v == 0 || v == StdKeyInfo[k].vkey + 1) continue;
            ++remapped;
            out += Line(number + " " + Word(SettingDict::Profile, "KEY_") + " " + KeyName(StdKeyInfo[k].vkey) + " " +
                            KeyName((v - 1) & 0xFF),
                        v <= Max(SettingDict::Profile, "KEY_"));
        }
        if (remapped == 0) out += "# profile " + number + ": every key gives itself\n";
        for (int i = 0; i < kProgKeyCount; ++i) {
            const std::string action = Action(i, i < kTKeyCount ? prof.TKEYINFO[i] : prof.MAPPINGKEYINFO[i - kTKeyCount], exact);
            out += Line(number + " " + ProgKeyName(i) + " " + action, exact);
        }
        const uint32_t next = prof.INSTANT_SHIFT.NEXTKEY, previous = prof.INSTANT_SHIFT.PREKEY;
        const auto modifier = [](uint32_t v) { return v < kModifierNames.size() ? kModifierNames[v] : std::to_string(v); };
        out += Line(number + " " + Word(SettingDict::Profile, "INSTANT_SHIFT") + " " + Word(SettingDict::Shift, "NEXTKEY") +
                        " " + modifier(next) + " " + Word(SettingDict::Shift, "PREKEY") + " " + modifier(previous),
                    next < kModifierNames.size() && previous < kModifierNames.size());
    }
    return out;
}
