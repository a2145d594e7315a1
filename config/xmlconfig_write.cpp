// Factory defaults and writing the record out as the settings file.
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "config/build_config.hpp"
#include "config/xmlconfig.hpp"
#include "platform/file_io.hpp"
#include "platform/log.hpp"

namespace {

// Builds an XML property list, indented with tabs.
class PlistWriter {
public:
    PlistWriter(std::string& out, const ForeignEntries* foreign) : out_(out), foreign_(foreign) {}

    void Begin() {
        out_ +=
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n";
    }
    void End() { out_ += "</plist>\n"; }

    void OpenDict(const char* key) {
        if (key) Key(key);
        Indent();
        out_ += "<dict>\n";
        ++depth_;
        if (!foreign_) return;
        paths_.push_back(paths_.empty() || !key ? std::string()
                         : paths_.back().empty() ? std::string(key)
                                                 : paths_.back() + "/" + key);
    }
    void CloseDict() {
        if (foreign_) {
            const auto it = foreign_->find(paths_.back());
            if (it != foreign_->end()) out_ += it->second;
            paths_.pop_back();
        }
        --depth_;
        Indent();
        out_ += "</dict>\n";
    }
    void Integer(const char* key, uint32_t value) {
        Key(key);
        Indent();
        char buf[32];
        std::snprintf(buf, sizeof buf, "<integer>%d</integer>\n", static_cast<int32_t>(value));
        out_ += buf;
    }
    void IndexedInteger(const char* prefix, int n, uint32_t value) {
        char key[32];
        std::snprintf(key, sizeof key, "%s%d", prefix, n);
        Integer(key, value);
    }
    void String(const char* key, const char* text) {
        Key(key);
        Indent();
        out_ += "<string>";
        Escaped(text);
        out_ += "</string>\n";
    }

private:
    void Indent() { out_.append(static_cast<size_t>(depth_), '\t'); }
    void Key(const char* key) {
        Indent();
        out_ += "<key>";
        out_ += key;
        out_ += "</key>\n";
    }

    // Escapes markup and drops what XML 1.0 cannot hold: invalid UTF-8, control
    // characters other than tab, newline and carriage return, surrogates and
    // U+FFFE/U+FFFF. A carriage return is written as a reference, which a
    // reader does not fold into a newline.
    void Escaped(const char* text) {
        const auto* s = reinterpret_cast<const unsigned char*>(text);
        const size_t n = std::strlen(text);
        size_t i = 0;
        while (i < n) {
            const unsigned char c = s[i];
            if (c < 0x80) {
                if (c == '&') out_ += "&amp;";
                else if (c == '<') out_ += "&lt;";
                else if (c == '>') out_ += "&gt;";
                else if (c == '\r') out_ += "&#13;";
                else if (c >= 0x20 || c == '\t' || c == '\n') out_ += static_cast<char>(c);
                ++i;
                continue;
            }
            const size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
            if (len == 0 || c > 0xF4 || i + len > n) {
                ++i;
                continue;
            }
            uint32_t cp = c & (0x7F >> len);
            bool ok = true;
            for (size_t k = 1; k < len; ++k) {
                if ((s[i + k] & 0xC0) != 0x80) ok = false;
                cp = (cp << 6) | (s[i + k] & 0x3F);
            }
            static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
            ok = ok && cp >= kMin[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) &&
                 cp != 0xFFFE && cp != 0xFFFF;
            if (ok) out_.append(reinterpret_cast<const char*>(s + i), len);
            i += ok ? len : 1;
        }
    }

    std::string& out_;
    int depth_ = 0;
    const ForeignEntries* foreign_;
    std::vector<std::string> paths_;  // of the open dictionaries, with foreign entries only
};

void WriteKeyInfo(PlistWriter& w, const char* key, const _TKEY_INFO& info) {
    w.OpenDict(key);
    w.Integer("FUNCID", info.FUNCID);
    w.String("LAUNCHPATH", info.LAUNCHPATH);
    w.Integer("SINGLE_KEYCODE", info.SINGLE_KEYCODE);
    w.Integer("MAPKEY_KEYCODE", info.MAPKEY_KEYCODE);
    const _MACRO_INFO& m = info.MACRO;
    w.OpenDict("MACRO");
    w.String("MACRONAME", m.MACRONAME);
    w.Integer("LENGTH", m.LENGTH);
    w.Integer("REPEAT_OPTION", m.REPEAT_OPTION);
    w.Integer("REPEAT_TIMES", m.REPEAT_TIMES);
    const uint32_t steps = std::min<uint32_t>(m.LENGTH, kMacroStepMax);
    char stepKey[32];
    for (uint32_t i = 0; i < steps; ++i) {
        std::snprintf(stepKey, sizeof stepKey, "KEYMAP_%u", i + 1);
        w.OpenDict(stepKey);
        w.Integer("KEYCODE", m.KEYMAP[i].KEYCODE);
        w.Integer("KEYFLAG", m.KEYMAP[i].KEYFLAG);
        w.CloseDict();
    }
    w.CloseDict();
    w.CloseDict();
}

}  // namespace

void InitialConfigInto(_QZ5_CONFIG& rec) {
    std::memset(&rec, 0, sizeof rec);
    rec.PROFILE_ID = 0;
    rec.GAME_MODE = 0;
    for (auto& profile : rec.PROFILE)
        for (int k = 0; k < kKeySlotCount; ++k) profile.KEY[k] = StdKeyInfo[k].vkey + 1;
}

void xmlconfig::InitialConfigData() { InitialConfigInto(m_Config); }

void xmlconfig::InitialProfile(int profile) {
    if (profile < 0 || profile >= kProfileCount) return;
    for (int k = 0; k < kKeySlotCount; ++k) m_Config.PROFILE[profile].KEY[k] = StdKeyInfo[k].vkey + 1;
}

std::string SettingsXml(const _QZ5_CONFIG& rec, const ForeignEntries* foreign) {
    std::string out;
    size_t steps = 0;
    for (const auto& p : rec.PROFILE) {
        for (const auto& k : p.TKEYINFO) steps += std::min<uint32_t>(k.MACRO.LENGTH, kMacroStepMax);
        for (const auto& k : p.MAPPINGKEYINFO) steps += std::min<uint32_t>(k.MACRO.LENGTH, kMacroStepMax);
    }
    out.reserve(64 * 1024 + steps * 160);

    PlistWriter w(out, foreign);
    w.Begin();
    w.OpenDict(nullptr);
    w.Integer("PROFILE_ID", rec.PROFILE_ID);
    w.Integer("GAME_MODE", rec.GAME_MODE);
    w.OpenDict("LIGHT_OPTION");
    w.Integer("LIGHT_STYLE", rec.LIGHT_OPTION.LIGHT_STYLE);
    w.Integer("WASDLIGHT", rec.LIGHT_OPTION.WASDLIGHT);
    w.Integer("DIRECTLIGHT", rec.LIGHT_OPTION.DIRECTLIGHT);
    w.Integer("NUMBERLIGHT", rec.LIGHT_OPTION.NUMBERLIGHT);
    w.Integer("PELLFLAGLIGHT", rec.LIGHT_OPTION.PELLFLAGLIGHT);
    w.CloseDict();
    char key[32];
    for (int p = 0; p < kProfileCount; ++p) {
        const _QZ5_PROFILE& profile = rec.PROFILE[p];
        std::snprintf(key, sizeof key, "PROFILE_%d", p + 1);
        w.OpenDict(key);
        for (int k = 0; k < kKeySlotCount; ++k) w.IndexedInteger("KEY_", k + 1, profile.KEY[k]);
        for (int t = 0; t < kTKeyCount; ++t) {
            std::snprintf(key, sizeof key, "TKEYINFO_%d", t + 1);
            WriteKeyInfo(w, key, profile.TKEYINFO[t]);
        }
        for (int m = 0; m < kMappingKeyCount; ++m) {
            std::snprintf(key, sizeof key, "MAPPINGKEYINFO_%d", m + 1);
            WriteKeyInfo(w, key, profile.MAPPINGKEYINFO[m]);
        }
        w.OpenDict("INSTANT_SHIFT");
        w.Integer("PREKEY", profile.INSTANT_SHIFT.PREKEY);
        w.Integer("NEXTKEY", profile.INSTANT_SHIFT.NEXTKEY);
        w.CloseDict();
        w.CloseDict();
    }
    w.CloseDict();
    w.End();
    return out;
}

bool WriteSettingsFrom(const _QZ5_CONFIG& rec, const std::string& path) {
    return WriteFileAtomically(path, SettingsXml(rec));
}

bool xmlconfig::WriteConfigFile() {
    if (WriteSettingsFrom(m_Config, pConfigFileName)) return true;
    LogLine("write fail!");
    return false;
}

std::string SettingsFilePath() {
    const char* env = std::getenv("QZ5_SETTINGS_FILE");
    std::string path = env && *env ? env : kQz5SettingsFile;
    if (path.starts_with("~/")) {
        const char* home = std::getenv("HOME");
        if (!home || *home != '/') {
            const passwd* entry = getpwuid(getuid());
            home = entry ? entry->pw_dir : nullptr;
        }
        if (home && *home) path.replace(0, 1, home);
    }
    return path;
}
