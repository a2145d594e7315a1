#include "editing/profile_text.hpp"

#include <cctype>
#include <cstring>
#include <tuple>

#include "config/settings_schema.hpp"
#include "editing/macro_text.hpp"
#include "editing/words.hpp"

namespace {

std::string Num(uint32_t v) { return std::to_string(v); }

std::string Indexed(const char* prefix, int n) {
    std::string s = prefix;
    s += std::to_string(n);
    return s;
}

std::string KeyPath(int index) {
    return index < kTKeyCount ? Indexed("TKEYINFO_", index + 1) : Indexed("MAPPINGKEYINFO_", index - kTKeyCount + 1);
}

std::string Joined(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

// One programmable key: its clauses line, its steps, its raw lines. The
// clauses that set the kind of action (key, launch, none, macro) come in an
// order that leaves FUNCID as the record has it.
std::string KeyText(int index, const _TKEY_INFO& k) {
    const std::string name = ProgKeyName(index);
    const std::string path = KeyPath(index) + "/";
    std::vector<std::string> clauses, raws;
    auto raw = [&](const std::string& field, uint32_t v) { raws.push_back("raw " + path + field + " " + Num(v)); };
    const bool singleNamed = k.SINGLE_KEYCODE <= 0xFF;
    const std::string single = singleNamed ? "key " + KeyName(k.SINGLE_KEYCODE) : "";
    const std::string launch = "launch " + Quoted(k.LAUNCHPATH);
    bool kindSet = false;
    if (k.SINGLE_KEYCODE != 0 && k.FUNCID != 1) {
        if (singleNamed) clauses.push_back(single), kindSet = true;
        else raw("SINGLE_KEYCODE", k.SINGLE_KEYCODE);
    }
    if (k.FUNCID == 1 && !singleNamed) raw("SINGLE_KEYCODE", k.SINGLE_KEYCODE);
    if (k.LAUNCHPATH[0] != '\0' && k.FUNCID != 3) clauses.push_back(launch), kindSet = true;
    if (k.MACRO.MACRONAME[0] != '\0') clauses.push_back("name " + Quoted(k.MACRO.MACRONAME));
    if (k.MACRO.REPEAT_OPTION >= 1 && k.MACRO.REPEAT_OPTION <= 3) clauses.push_back("repeat " + Num(k.MACRO.REPEAT_OPTION));
    else if (k.MACRO.REPEAT_OPTION != 0) raw("MACRO/REPEAT_OPTION", k.MACRO.REPEAT_OPTION);
    if (k.MACRO.REPEAT_TIMES != 0) raw("MACRO/REPEAT_TIMES", k.MACRO.REPEAT_TIMES);
    const uint32_t placed = k.MAPKEY_KEYCODE;
    if (index >= kTKeyCount && placed >= 1 && placed <= 0x100 && IsLayoutKey(placed - 1))
        clauses.push_back("on " + KeyName(placed - 1));
    else if (placed != 0)
        raw("MAPKEY_KEYCODE", placed);
    switch (k.FUNCID) {
        case 0: if (kindSet) clauses.push_back("none"); break;
        case 1: if (singleNamed) clauses.push_back(single); else raw("FUNCID", 1); break;
        case 2: clauses.push_back("macro"); break;
        case 3: clauses.push_back(launch); break;
        default: raw("FUNCID", k.FUNCID); break;
    }
    std::string out;
    if (!clauses.empty()) out += name + " " + Joined(clauses) + "\n";
    if (k.MACRO.LENGTH > 0) out += name + " steps\n" + MacroText(k.MACRO) + "end\n";
    for (const auto& r : raws) out += r + "\n";
    return out;
}

}  // namespace

std::string ProfileText(const _QZ5_PROFILE& profile) {
    std::string out;
    for (int slot = 0; slot < kKeySlotCount; ++slot) {
        const uint32_t vkey = StdKeyInfo[slot].vkey, v = profile.KEY[slot];
        if (v == vkey + 1) continue;
        if (slot < kStdKeyRowsInUse && v >= 1 && v <= 0x100)
            out += "key " + KeyName(vkey) + " " + KeyName(v - 1) + "\n";
        else
            out += "raw " + Indexed("KEY_", slot + 1) + " " + Num(v) + "\n";
    }
    for (int i = 0; i < kProgKeyCount; ++i)
        out += KeyText(i, i < kTKeyCount ? profile.TKEYINFO[i] : profile.MAPPINGKEYINFO[i - kTKeyCount]);
    const _INSTANT_SHIFT& s = profile.INSTANT_SHIFT;
    std::vector<std::string> sides;
    std::string raws;
    for (const auto& [side, v, field] : {std::tuple{"next", s.NEXTKEY, "NEXTKEY"}, std::tuple{"previous", s.PREKEY, "PREKEY"}}) {
        if (v >= 1 && v < kModifierNames.size()) sides.push_back(std::string(side) + " " + kModifierNames[v]);
        else if (v != 0) raws += "raw INSTANT_SHIFT/" + std::string(field) + " " + Num(v) + "\n";
    }
    if (!sides.empty()) out += "shift " + Joined(sides) + "\n";
    return out + raws;
}

std::vector<std::string> SplitQuoted(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (true) {
        while (i < line.size() && space(line[i])) ++i;
        if (i >= line.size()) return words;
        std::string word;
        if (line[i] == '#') return words;
        if (line[i] != '"') {
            while (i < line.size() && !space(line[i])) word += line[i++];
            words.push_back(word);
            continue;
        }
        for (++i;; ++i) {
            if (i >= line.size()) throw WordError("a quote is not closed");
            char c = line[i];
            if (c == '"') break;
            if (c == '\\' && i + 1 < line.size()) {
                c = line[++i];
                if (c == 't') c = '\t';
                else if (c == 'n') c = '\n';
                else if (c == 'x' && i + 2 < line.size() && std::isxdigit(static_cast<unsigned char>(line[i + 1])) &&
                         std::isxdigit(static_cast<unsigned char>(line[i + 2]))) {
                    c = static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                }
            }
            word += c;
        }
        ++i;
        words.push_back(word);
    }
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') out += '\\', out += c;
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (u < 0x20 || u == 0x7F) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\x", out += kHex[u >> 4], out += kHex[u & 0xF];
        } else out += c;
    }
    return out + "\"";
}

uint32_t& RawField(_QZ5_PROFILE& profile, const std::string& path) {
    const auto bad = [&] {
        return WordError("no raw field '" + path + "' in a profile; qz5ctl(1) lists them");
    };
    // Down the profile's dictionaries to an integer the words do not cover
    // in full; a macro's steps and their count are its steps lines.
    SettingDict dict = SettingDict::Profile;
    void* base = &profile;
    for (size_t pos = 0;;) {
        const size_t slash = path.find('/', pos);
        const std::string_view part =
            std::string_view(path).substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        int index = 0;
        const SettingEntry* e = FindSetting(dict, part, &index);
        if (!e || e->countFrom >= 0 || e->kind == SettingKind::Text) throw bad();
        if (e->kind == SettingKind::Dict) {
            if (slash == std::string::npos) throw bad();
            base = DictField(base, *e, index);
            dict = e->dict;
            pos = slash + 1;
            continue;
        }
        const auto entries = SettingEntries(dict);
        for (const SettingEntry& other : entries)
            if (other.countFrom >= 0 && &entries[static_cast<size_t>(other.countFrom)] == e) throw bad();
        if (slash != std::string::npos) throw bad();
        return IntegerField(base, *e, index);
    }
}
