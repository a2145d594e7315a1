// Factory defaults and writing the record out as the settings file.
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "config/build_config.hpp"
#include "config/settings_schema.hpp"
#include "config/utf8.hpp"
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
        const std::string_view s(text);
        for (size_t i = 0; i < s.size();) {
            const char c = s[i];
            if (static_cast<unsigned char>(c) < 0x80) {
                if (c == '&') out_ += "&amp;";
                else if (c == '<') out_ += "&lt;";
                else if (c == '>') out_ += "&gt;";
                else if (c == '\r') out_ += "&#13;";
                else if (c >= 0x20 || c == '\t' || c == '\n') out_ += c;
                ++i;
                continue;
            }
            uint32_t cp = 0;
            const size_t len = Utf8SequenceAt(s, i, &cp);
            const bool ok = len != 0 && cp != 0xFFFE && cp != 0xFFFF;
            if (ok) out_.append(s.substr(i, len));
            i += ok ? len : 1;
        }
    }

    std::string& out_;
    int depth_ = 0;
    const ForeignEntries* foreign_;
    std::vector<std::string> paths_;  // of the open dictionaries, with foreign entries only
};

// Writes the entries of the dictionary whose part of the record is at base.
void WriteDict(PlistWriter& w, SettingDict kind, const void* base) {
    const auto entries = SettingEntries(kind);
    char key[32];
    for (const SettingEntry& e : entries) {
        const int inUse = EntriesInUse(base, entries, e);
        for (int n = 0; n < inUse; ++n) {
            const char* name = e.key;
            if (e.count != 0) {
                std::snprintf(key, sizeof key, "%s%d", e.key, n + 1);
                name = key;
            }
            switch (e.kind) {
                case SettingKind::Integer: w.Integer(name, IntegerField(base, e, n)); break;
                case SettingKind::Text: w.String(name, TextField(base, e, n)); break;
                case SettingKind::Dict:
                    w.OpenDict(name);
                    WriteDict(w, e.dict, DictField(base, e, n));
                    w.CloseDict();
                    break;
            }
        }
    }
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
    WriteDict(w, SettingDict::Root, &rec);
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
