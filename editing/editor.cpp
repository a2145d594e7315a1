#include "editing/editor.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

#include "config/settings_schema.hpp"
#include "config/utf8.hpp"
#include "config/xmlconfig.hpp"
#include "keyboard/encoding.hpp"
#include "platform/file_io.hpp"
#include "editing/macro_text.hpp"
#include "editing/profile_text.hpp"
#include "editing/settings_summary.hpp"
#include "editing/words.hpp"

const char* const kEditorUsage =
    "  set profile N               make profile N (1-3) the current one\n"
    "  set game on|off             game mode\n"
    "  set light [style N] [zones LIST] [ZONE on|off]...\n"
    "                              light style (0-4); LIST: the lit zones among\n"
    "                              wasd, arrows, numbers, flag, comma-separated, or none\n"
    "  set P key KEY TARGET|default\n"
    "                              in profile P (1-3) the key KEY produces TARGET\n"
    "  set P TKEY WHAT...          a T-key (T1-T12) or mapping key (M1-M8) of\n"
    "                              profile P; WHAT is one or more of: none,\n"
    "                              key KEY, macro, launch PATH, name TEXT (the\n"
    "                              macro's name), repeat 1|2|3, on KEY|none (where\n"
    "                              a mapping key sits)\n"
    "  set P shift [next MOD] [previous MOD]\n"
    "                              the instant-shift modifiers: none, alt, control, shift\n"
    "  show                        print every setting, one a line, as set takes it\n"
    "  macro export P TKEY         print the macro of a key, one step a line\n"
    "  macro import P TKEY FILE|-  replace the macro of a key with FILE's steps:\n"
    "                              press/release/tap KEY, delay N, click left|right|middle,\n"
    "                              wheel up|down, pageup, pagedown, copy, paste, undo,\n"
    "                              backspace, cut, selectall, find, print, save, new,\n"
    "                              raw KEYCODE KEYFLAG; # comments\n"
    "  profile export P            print every setting of profile P, one a line\n"
    "  profile import P FILE|-     replace profile P with FILE's settings, as export\n"
    "                              prints them, all or nothing\n"
    "  keys                        list the keys, each with its other words\n"
    "\n"
    "These edit the daemon's settings file, or FILE with --file FILE. Keys are\n"
    "named as on a PC (Backspace, Enter, Super, Alt, AltGr, Menu, Insert,\n"
    "PrintScreen, Left ...) or by the settings file's macOS names (Command,\n"
    "Option, ForwardDelete ...), in any case; a unique beginning such as caps\n"
    "will do. Delete is refused, being Backspace in one and Del in the other.\n"
    "--apply then makes a running qz5d send the change to the keyboard (a\n"
    "profile edit is sent in full and saved there) and waits until it is there,\n"
    "as apply does; --apply --no-wait only asks.\n";

namespace {

using Words = std::vector<std::string>;

EditorApply g_apply = nullptr;

// A usage mistake or a refused edit: the file is left alone, exit 2.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The file cannot be read, locked or written: exit 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// qz5ctl's word for a setting, and its largest value, from the schema.
std::string Word(SettingDict dict, const char* key) { return Setting(dict, key).word; }
uint32_t Max(SettingDict dict, const char* key) { return Setting(dict, key).max; }

const std::string& Arg(const Words& w, size_t i, const std::string& what) {
    if (i >= w.size()) throw Refusal("missing " + what);
    return w[i];
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void NoMore(const Words& w, size_t n) {
    if (w.size() > n) throw Refusal("unexpected '" + w[n] + "'");
}

// Text for a 256-byte field of the record: at most 255 bytes of UTF-8 without
// control characters, so that it reads back exactly as given. With
// layoutControls, tabs and line breaks are taken too (the file carries them;
// an imported profile may hold them).
std::string CheckedText(const std::string& s, const std::string& what, bool layoutControls = false) {
    if (s.size() >= kTextSize)
        throw Refusal(what + " is " + std::to_string(s.size()) + " bytes; at most " +
                      std::to_string(kTextSize - 1) + " fit");
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const bool control = (c < 0x20 || c == 0x7F) && !(layoutControls && (c == '\t' || c == '\n' || c == '\r'));
        const size_t len = Utf8SequenceAt(s, i);
        if (len == 0 || control) throw Refusal(what + " holds a control character or is not UTF-8");
        i += len;
    }
    return s;
}

void CopyText(char (&field)[kTextSize], const std::string& text) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), text.size());
}

_TKEY_INFO& ProgKey(_QZ5_PROFILE& p, int index) {
    return index < kTKeyCount ? p.TKEYINFO[index] : p.MAPPINGKEYINFO[index - kTKeyCount];
}

int LayoutRow(uint32_t vkey) {
    for (int r = 0; r < kStdKeyRowsInUse; ++r)
        if (StdKeyInfo[r].vkey == vkey) return r;
    return -1;
}

// One change to the record, and what makes a running qz5d send it.
struct Change {
    std::function<void(_QZ5_CONFIG&)> edit;
    std::function<void(_QZ5_PROFILE&)> profileEdit;  // of a profile change, the edit of the profile
    int profile = -1;  // the profile it changes, whose macro memory must hold it
    int macroKey = -1;  // a key whose macro it replaces: measured as a macro
    Words apply;        // the bus command for --apply
    std::vector<std::string> notes;  // printed once the change is made
};

// The notes about a file's steps, the first in full: a generated file may
// hold thousands.
std::vector<std::string> StepNotes(const std::string& source, const std::vector<std::string>& notes) {
    if (notes.empty()) return {};
    const size_t more = notes.size() - 1;
    return {source + ": " + notes[0] + (more ? " (and " + std::to_string(more) + " more delays over 65535)" : "")};
}

Change ProfileChange(int p, std::function<void(_QZ5_PROFILE&)> edit) {
    Change c;
    c.profile = p;
    c.profileEdit = edit;
    c.edit = [p, edit](_QZ5_CONFIG& rec) { edit(rec.PROFILE[p]); };
    c.apply = {"apply", std::to_string(p + 1), "--save"};
    return c;
}

// The lighting's settings are the light dictionary's: numbers (the style)
// by their words, the on/off zones by theirs or all at once with "zones".
Change SetLight(const Words& w) {
    std::vector<const SettingEntry*> numbers, zones;
    for (const SettingEntry& e : SettingEntries(SettingDict::Light)) (e.max > 1 ? numbers : zones).push_back(&e);
    Words clauses;
    for (const SettingEntry* e : numbers) clauses.push_back(e->word);
    clauses.push_back("zones");
    for (const SettingEntry* e : zones) clauses.push_back(e->word);
    std::vector<std::function<void(_QZ5_LIGHT&)>> edits;
    for (size_t i = 2; i < w.size() || edits.empty(); i += 2) {
        const size_t clause = Choose(Arg(w, i, "what to set: style, zones or a zone"), clauses, "light setting");
        const std::string& value = Arg(w, i + 1, "the value of " + clauses[clause]);
        if (clause < numbers.size()) {
            const SettingEntry* e = numbers[clause];
            const uint32_t v = NumberIn(value, 0, e->max, std::string("the light ") + e->word);
            edits.push_back([e, v](_QZ5_LIGHT& l) { IntegerField(&l, *e) = v; });
        } else if (clause == numbers.size()) {
            std::vector<uint32_t> lit(zones.size());
            if (Lower(value) != "none") {
                for (size_t pos = 0; pos <= value.size();) {
                    const size_t comma = std::min(value.find(',', pos), value.size());
                    lit[Choose(value.substr(pos, comma - pos), kZoneNames, "zone")] = 1;
                    pos = comma + 1;
                }
            }
            edits.push_back([zones, lit](_QZ5_LIGHT& l) {
                for (size_t z = 0; z < zones.size(); ++z) IntegerField(&l, *zones[z]) = lit[z];
            });
        } else {
            const SettingEntry* e = zones[clause - numbers.size() - 1];
            const uint32_t on = static_cast<uint32_t>(Choose(value, {"off", "on"}, "zone state"));
            edits.push_back([e, on](_QZ5_LIGHT& l) { IntegerField(&l, *e) = on; });
        }
    }
    Change c;
    c.edit = [edits](_QZ5_CONFIG& rec) {
        for (const auto& e : edits) e(rec.LIGHT_OPTION);
    };
    c.apply = {"lighting"};
    return c;
}

// A launch path as the daemon will open it: "~/" is the home folder, and a
// relative path is taken from the current folder.
std::string LaunchPath(const std::string& path) {
    std::string full = path;
    const char* home = std::getenv("HOME");
    if (full.rfind("~/", 0) == 0 && home) full = home + full.substr(1);
    if (!full.empty() && full[0] != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd)) full = std::string(cwd) + "/" + full;
    }
    return CheckedText(full, "the launch path");
}

// The clauses from w[3] on for key k of profile p. A launch path is taken as
// given when verbatim, else as LaunchPath makes it.
Change SetProgKey(int p, int k, const Words& w, bool verbatim) {
    const bool mapping = k >= kTKeyCount;
    std::vector<std::function<void(_TKEY_INFO&)>> edits;
    const std::string keyWord = Word(SettingDict::KeyInfo, "SINGLE_KEYCODE"),
                      launchWord = Word(SettingDict::KeyInfo, "LAUNCHPATH"), nameWord = Word(SettingDict::Macro, "MACRONAME"),
                      repeatWord = Word(SettingDict::Macro, "REPEAT_OPTION"), onWord = Word(SettingDict::KeyInfo, "MAPKEY_KEYCODE");
    for (size_t i = 3; i < w.size() || edits.empty();) {
        // none and macro are actions; the others name the key's settings.
        Words clauses = {"none", keyWord, "macro", launchWord, nameWord, repeatWord};
        if (mapping) clauses.push_back(onWord);
        const std::string& clause = clauses[Choose(Arg(w, i, "what to set: none, key KEY, macro, launch PATH, name TEXT, repeat N" +
                                                                 std::string(mapping ? ", on KEY" : "")),
                                                   clauses, "setting for " + ProgKeyName(k))];
        if (clause == "none" || clause == "macro") {
            const uint32_t func = clause == "none" ? 0 : 2;
            edits.push_back([func](_TKEY_INFO& key) { key.FUNCID = func; });
            i += 1;
            continue;
        }
        const std::string& value = Arg(w, i + 1, "the value of " + clause);
        i += 2;
        if (clause == keyWord) {
            const uint32_t code = KeyCodeOf(value, false);
            edits.push_back([code](_TKEY_INFO& key) { key.FUNCID = 1, key.SINGLE_KEYCODE = code; });
        } else if (clause == launchWord) {
            const std::string path = verbatim ? CheckedText(value, "the launch path", true) : LaunchPath(value);
            edits.push_back([path](_TKEY_INFO& key) { key.FUNCID = 3, CopyText(key.LAUNCHPATH, path); });
        } else if (clause == nameWord) {
            const std::string name = CheckedText(value, "the macro's name", verbatim);
            edits.push_back([name](_TKEY_INFO& key) { CopyText(key.MACRO.MACRONAME, name); });
        } else if (clause == repeatWord) {
            const uint32_t option = NumberIn(value, 1, Max(SettingDict::Macro, "REPEAT_OPTION"), "the repeat option");
            edits.push_back([option](_TKEY_INFO& key) { key.MACRO.REPEAT_OPTION = option; });
        } else {  // on
            const uint32_t placed = Lower(value) == "none" ? 0 : KeyCodeOf(value, true) + 1;
            edits.push_back([placed](_TKEY_INFO& key) { key.MAPKEY_KEYCODE = placed; });
        }
    }
    return ProfileChange(p, [k, edits](_QZ5_PROFILE& prof) {
        for (const auto& e : edits) e(ProgKey(prof, k));
    });
}

Change SetInProfile(int p, const Words& w, bool verbatim);

Change ParseSet(const Words& w) {
    const std::string& what = Arg(w, 1, "what to set: profile, game, light or a profile number (1-3)");
    if (what.find_first_not_of("0123456789") != std::string::npos) {
        try {
            const size_t s = Choose(what, {Word(SettingDict::Root, "PROFILE_ID"), Word(SettingDict::Root, "GAME_MODE"),
                                           Word(SettingDict::Root, "LIGHT_OPTION")},
                                    "setting");
            if (s == 2) return SetLight(w);
            Change c;
            if (s == 0) {
                const uint32_t n =
                    NumberIn(Arg(w, 2, "the profile (1-3)"), 1, Max(SettingDict::Root, "PROFILE_ID") + 1, "the profile");
                c.edit = [n](_QZ5_CONFIG& rec) { rec.PROFILE_ID = n - 1; };
                c.apply = {"select", w[2]};
            } else {
                const uint32_t on = static_cast<uint32_t>(Choose(Arg(w, 2, "on or off"), {"off", "on"}, "game mode"));
                c.edit = [on](_QZ5_CONFIG& rec) { rec.GAME_MODE = on; };
                c.apply = {"game", on ? "on" : "off"};
            }
            NoMore(w, 3);
            return c;
        } catch (const WordError& e) {
            if (std::string(e.what()).rfind("no setting", 0) == 0)
                throw WordError(std::string(e.what()) + ", or a profile number (1-3)");
            throw;
        }
    }
    return SetInProfile(static_cast<int>(NumberIn(what, 1, 3, "the profile")) - 1, w, false);
}

std::string ReadInput(const std::string& source) {
    if (source == "-") return std::string(std::istreambuf_iterator<char>(std::cin), {});
    std::string text;
    if (!ReadWholeFile(source, text)) throw Failure("cannot read " + source);
    return text;
}

// profile import P FILE|-: profile P becomes the factory profile with the
// file's lines applied in order (profile_text.hpp); nothing changes unless
// every line is good.
Change ParseProfileImport(const Words& w) {
    const int p = static_cast<int>(NumberIn(Arg(w, 2, "the profile (1-3)"), 1, 3, "the profile")) - 1;
    const std::string& source = Arg(w, 3, "the profile's FILE, or - for standard input");
    NoMore(w, 4);
    const std::string text = ReadInput(source);
    using Edits = std::vector<std::function<void(_QZ5_PROFILE&)>>;
    const auto edits = std::make_shared<Edits>();
    std::vector<std::string> notes;
    std::istringstream lines(text);
    std::string line;
    std::unique_ptr<_QZ5_PROFILE> scratch;
    for (int n = 1; std::getline(lines, line); ++n) {
        try {
            const Words words = SplitQuoted(line);
            if (words.empty()) continue;
            if (words[0] == "raw") {
                const std::string& path = Arg(words, 1, "the field after raw");
                const uint32_t value = NumberIn(Arg(words, 2, "the value of " + path), 0, UINT32_MAX, "a raw value");
                NoMore(words, 3);
                if (!scratch) scratch = std::make_unique<_QZ5_PROFILE>();
                RawField(*scratch, path);  // checks the path
                edits->push_back([path, value](_QZ5_PROFILE& prof) { RawField(prof, path) = value; });
            } else if (words.size() == 2 && Lower(words[1]) == "steps") {
                const int k = ProgKeyIndex(words[0]);
                std::string steps;
                const int firstStep = n + 1;
                while (true) {
                    if (!std::getline(lines, line)) throw Refusal("the steps of " + ProgKeyName(k) + " have no end line");
                    ++n;
                    std::istringstream fields(line.substr(0, line.find('#')));
                    std::string word, more;
                    if (fields >> word && !(fields >> more) && Lower(word) == "end") break;
                    steps += line + "\n";
                }
                const auto parsed = std::make_shared<std::vector<_KEYMAP_INFO>>(ParseMacroText(steps, notes, firstStep));
                edits->push_back([k, parsed](_QZ5_PROFILE& prof) {
                    _MACRO_INFO& m = ProgKey(prof, k).MACRO;
                    std::memset(m.KEYMAP, 0, sizeof m.KEYMAP);
                    std::copy(parsed->begin(), parsed->end(), m.KEYMAP);
                    m.LENGTH = static_cast<uint32_t>(parsed->size());
                });
            } else {
                Words set = {"set", std::to_string(p + 1)};
                set.insert(set.end(), words.begin(), words.end());
                edits->push_back(SetInProfile(p, set, true).profileEdit);
            }
        } catch (const Failure&) {
            throw;
        } catch (const std::runtime_error& e) {
            const std::string what = e.what();
            throw Refusal((source == "-" ? "standard input" : source) +
                          (what.rfind("line ", 0) == 0 ? " " : " line " + std::to_string(n) + ": ") + what +
                          "; nothing changed");
        }
    }
    auto factory = std::make_unique<_QZ5_CONFIG>();
    InitialConfigInto(*factory);
    const auto start = std::make_shared<_QZ5_PROFILE>(factory->PROFILE[0]);
    Change c = ProfileChange(p, [start, edits](_QZ5_PROFILE& prof) {
        std::memcpy(&prof, start.get(), sizeof prof);
        for (const auto& e : *edits) e(prof);
    });
    c.notes = StepNotes(source, notes);
    return c;
}

// set P ...: a change to profile p.
Change SetInProfile(int p, const Words& w, bool verbatim) {
    const std::string what = std::to_string(p + 1);
    const std::string& target = Arg(w, 2, "what to set in profile " + what + ": key, shift, T1-T12 or M1-M8");
    const std::string lower = Lower(target);
    if (lower == Word(SettingDict::Profile, "KEY_")) {
        const uint32_t from = KeyCodeOf(Arg(w, 3, "the key to remap"), true);
        const std::string& to = Arg(w, 4, "the key it produces, or default");
        NoMore(w, 5);
        const int row = LayoutRow(from);
        const uint32_t value = Lower(to) == "default" ? from + 1 : KeyCodeOf(to, false) + 1;
        return ProfileChange(p, [row, value](_QZ5_PROFILE& prof) { prof.KEY[row] = value; });
    }
    if (lower == Word(SettingDict::Profile, "INSTANT_SHIFT")) {
        std::vector<std::pair<bool, uint32_t>> sides;
        for (size_t i = 3; i < w.size() || sides.empty(); i += 2) {
            const bool next = Choose(Arg(w, i, "next or previous"),
                                     {Word(SettingDict::Shift, "PREKEY"), Word(SettingDict::Shift, "NEXTKEY")},
                                     "instant-shift side") == 1;
            const uint32_t mod = static_cast<uint32_t>(Choose(Arg(w, i + 1, "the modifier"), kModifierNames, "modifier"));
            sides.emplace_back(next, mod);
        }
        return ProfileChange(p, [sides](_QZ5_PROFILE& prof) {
            for (const auto& [next, mod] : sides) (next ? prof.INSTANT_SHIFT.NEXTKEY : prof.INSTANT_SHIFT.PREKEY) = mod;
        });
    }
    int k = -1;
    try {
        k = ProgKeyIndex(target);
    } catch (const WordError&) {
        throw Refusal("no setting '" + target + "' in a profile; expected key, shift, T1-T12 or M1-M8");
    }
    return SetProgKey(p, k, w, verbatim);
}

Change ParseImport(const Words& w) {
    const int p = static_cast<int>(NumberIn(Arg(w, 2, "the profile (1-3)"), 1, 3, "the profile")) - 1;
    const int k = ProgKeyIndex(Arg(w, 3, "the key (T1-T12, M1-M8)"));
    const std::string& source = Arg(w, 4, "the macro's FILE, or - for standard input");
    NoMore(w, 5);
    std::vector<std::string> notes;
    const auto steps = std::make_shared<std::vector<_KEYMAP_INFO>>(ParseMacroText(ReadInput(source), notes));
    Change c = ProfileChange(p, [k, steps](_QZ5_PROFILE& prof) {
        _MACRO_INFO& m = ProgKey(prof, k).MACRO;
        std::memset(m.KEYMAP, 0, sizeof m.KEYMAP);
        std::copy(steps->begin(), steps->end(), m.KEYMAP);
        m.LENGTH = static_cast<uint32_t>(steps->size());
    });
    c.macroKey = k;
    c.notes = StepNotes(source, notes);
    return c;
}

// What a profile's actions take of the macro memory; with macroKey, that key
// counted as playing its macro.
uint32_t MemoryUse(const _QZ5_PROFILE& prof, int macroKey) {
    uint32_t use = MacroMemoryUse(prof);
    if (macroKey < 0) return use;
    const _TKEY_INFO& key = macroKey < kTKeyCount ? prof.TKEYINFO[macroKey] : prof.MAPPINGKEYINFO[macroKey - kTKeyCount];
    auto asMacro = std::make_unique<_TKEY_INFO>(key);
    asMacro->FUNCID = 2;
    const auto k = static_cast<uint32_t>(macroKey);
    return use - ActionLength(k, key) + ActionLength(k, *asMacro);
}

// The file a path names, through any symbolic links: an edit replaces the
// link's target and leaves the link as it is.
std::string ThroughLinks(const std::string& path) {
    std::string target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
        std::string link(4096, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0 || static_cast<size_t>(n) >= link.size()) throw Failure("cannot read the link " + target);
        link.resize(static_cast<size_t>(n));
        const size_t slash = target.rfind('/');
        target = link[0] == '/' || slash == std::string::npos ? link : target.substr(0, slash + 1) + link;
    }
    throw Failure(path + ": too many levels of symbolic links");
}

// An exclusive lock on FILE.lock beside the settings file, for as long as it lives.
class EditLock {
public:
    explicit EditLock(const std::string& file) {
        const std::string path = file + ".lock";
        fd_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) throw Failure("cannot make the lock file " + path + ": " + std::strerror(errno));
        while (::flock(fd_, LOCK_EX) != 0)
            if (errno != EINTR) throw Failure("cannot lock " + path + ": " + std::strerror(errno));
    }
    ~EditLock() { ::close(fd_); }
    EditLock(const EditLock&) = delete;
    EditLock& operator=(const EditLock&) = delete;

private:
    int fd_ = -1;
};

// The settings in path, read as the daemon reads them; text gets the file's
// text. A missing or empty file gives the factory defaults, and note says so;
// a file the daemon cannot read is not replaced.
std::unique_ptr<_QZ5_CONFIG> Load(const std::string& path, std::string& text, std::string& note) {
    auto rec = std::make_unique<_QZ5_CONFIG>();
    std::memset(rec.get(), 0, sizeof *rec);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
        note = path + " does not exist yet; starting from the factory defaults";
        InitialConfigInto(*rec);
        return rec;
    }
    if (!ReadWholeFile(path, text)) throw Failure("cannot read " + path);
    if (text.empty()) {
        note = path + " is empty; starting from the factory defaults";
        InitialConfigInto(*rec);
    } else if (!xmlconfig().ReadFileInto(path, *rec)) {
        throw Failure(path + " is not a settings file qz5d can read; left as it is "
                      "(qz5ctl settings init FILE writes a new one)");
    }
    return rec;
}

struct Options {
    std::string file;
    bool apply = false;
    bool noWait = false;  // --apply --no-wait: post and do not wait for the keyboard
    Words words;
};

Options SplitOptions(const Words& args) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--apply") o.apply = true;
        else if (args[i] == "--no-wait") o.noWait = true;
        else if (args[i] == "--file") o.file = Arg(args, ++i, "the FILE after --file");
        else o.words.push_back(args[i]);
    }
    if (o.noWait && !o.apply) throw Refusal("--no-wait goes with --apply");
    if (o.file.empty()) o.file = SettingsFilePath();
    return o;
}

// Under the edit lock: loads the file, edits the record and writes it back,
// keeping its foreign entries. checked: the profiles (each with a key counted
// as playing its macro, or -1) whose macro memory must hold the change; one
// that would overflow and grow refuses it. notes gets what the load found.
void EditLocked(const std::string& file, const std::function<void(_QZ5_CONFIG&)>& edit,
                const std::vector<std::pair<int, int>>& checked, std::vector<std::string>& notes) {
    const std::string target = ThroughLinks(file);
    EditLock lock(target);
    std::string text;
    std::string note;
    auto rec = Load(target, text, note);
    if (!note.empty()) notes.insert(notes.begin(), note);
    std::vector<uint32_t> before;
    for (const auto& [p, key] : checked) before.push_back(MemoryUse(rec->PROFILE[p], key));
    edit(*rec);
    for (size_t i = 0; i < checked.size(); ++i) {
        const auto [p, key] = checked[i];
        const uint32_t after = MemoryUse(rec->PROFILE[p], key);
        if (after > static_cast<uint32_t>(kMacroStreamSize) && after > before[i])
            throw Refusal(MacroMemoryRefusal(p, after));
    }
    const ForeignEntries foreign = ReadForeignEntries(text);
    if (!WriteFileAtomically(target, SettingsXml(*rec, &foreign)))
        throw Failure("cannot write " + target + ": " + std::strerror(errno) + "; it is left as it was");
}

int Edit(const Options& o, const Change& c) {
    std::vector<std::string> notes = c.notes;  // said once the change is made: a refusal is one line
    std::vector<std::pair<int, int>> checked;
    if (c.profile >= 0) checked.emplace_back(c.profile, c.macroKey);
    EditLocked(o.file, c.edit, checked, notes);
    for (const auto& n : notes) std::fprintf(stderr, "qz5ctl: %s\n", n.c_str());
    if (!o.apply) return 0;
    Words bus = c.apply;
    if (o.noWait) bus.push_back("--no-wait");
    if (!g_apply) throw Failure("--apply: this program cannot reach qz5d");
    return g_apply(bus);
}

// Whether the keyboard sends something for a macOS key code.
bool Sendable(uint32_t vkey) {
    for (const auto& row : UsageID_MacVk)
        if (row.macVk == vkey) return true;
    return false;
}

// qz5ctl keys: each key a line, its printed name and then its other words.
std::string KeysListing() {
    std::string out =
        "# The keys of the keyboard, in layout order: the name qz5ctl prints, then the\n"
        "# other words for it. Any case will do, and a unique beginning.\n";
    const auto line = [&](const KeyWords& k) {
        std::string words;
        for (const auto& a : k.aliases) words += (words.empty() ? "" : ", ") + a;
        bool ambiguous = false;
        for (const auto& a : AmbiguousKeyWords()) ambiguous = ambiguous || a.macKey == k.vkey;
        if (!k.macName.empty())
            words += (words.empty() ? "" : ", ") + k.macName + (ambiguous ? " (macOS; not taken, see below)" : " (macOS)");
        if (!Sendable(k.vkey)) words += std::string(words.empty() ? "" : " ") + "(the keyboard sends nothing for it)";
        out += k.name;
        if (!words.empty()) out += std::string(k.name.size() < 15 ? 16 - k.name.size() : 1, ' ') + words;
        out += "\n";
    };
    for (int r = 0; r < kStdKeyRowsInUse; ++r) line(*KeyWordsOf(StdKeyInfo[r].vkey));
    out += "# Other keys: what a key, a T-key or a macro step may produce.\n";
    for (const auto& k : AllKeyWords())
        if (!IsLayoutKey(k.vkey)) line(k);
    for (const auto& a : AmbiguousKeyWords())
        out += "# Not taken, as it means two keys: " + a.word + " (" + KeyName(a.macKey) + " in the macOS names, " +
               KeyName(a.pcKey) + " on a PC).\n";
    return out + "# A code without a name is written 0x34.\n";
}

int Run(const Words& args) {
    const Options o = SplitOptions(args);
    const Words& w = o.words;
    const std::string& command = Arg(w, 0, "command: set, show, macro, profile or keys");
    if (command == "set") return Edit(o, ParseSet(w));
    const bool macro = command == "macro";
    const size_t sub = macro || command == "profile"
                           ? Choose(Arg(w, 1, "export or import"), {"export", "import"}, command + " command")
                           : 2;  // 0 export, 1 import, 2 neither
    if (sub == 1) return Edit(o, macro ? ParseImport(w) : ParseProfileImport(w));
    if (o.apply) throw Refusal(command + " changes nothing: --apply goes with set and import");
    if (sub == 2) NoMore(w, 1);
    if (command == "keys") {
        std::fputs(KeysListing().c_str(), stdout);
    } else {
        const int p = sub == 0 ? static_cast<int>(NumberIn(Arg(w, 2, "the profile (1-3)"), 1, 3, "the profile")) - 1 : 0;
        const int k = sub == 0 && macro ? ProgKeyIndex(Arg(w, 3, "the key (T1-T12, M1-M8)")) : 0;
        if (sub == 0) NoMore(w, macro ? 4 : 3);
        std::string text;
        std::string note;
        const auto rec = Load(ThroughLinks(o.file), text, note);
        if (!note.empty()) std::fprintf(stderr, "qz5ctl: %s\n", note.c_str());
        if (sub == 2) {
            std::fputs(SettingsSummary(*rec).c_str(), stdout);
        } else if (macro) {
            const _TKEY_INFO& key = ProgKey(rec->PROFILE[p], k);
            std::fputs(MacroExport(p, k, key.MACRO.MACRONAME, key.MACRO.KEYMAP, key.MACRO.LENGTH).c_str(), stdout);
        } else {
            std::printf("# profile %d; qz5ctl profile import P FILE makes a profile of it\n%s", p + 1,
                        ProfileText(rec->PROFILE[p]).c_str());
        }
    }
    std::fflush(stdout);
    return std::ferror(stdout) ? 1 : 0;
}

}  // namespace

void SetEditorApply(EditorApply apply) { g_apply = apply; }

std::string TextRefusal(const std::string& text, const std::string& what) {
    try {
        CheckedText(text, what);
        return {};
    } catch (const Refusal& e) {
        return e.what();
    }
}

uint32_t ProfileMacroMemoryUse(const _QZ5_PROFILE& profile, int macroKey) { return MemoryUse(profile, macroKey); }

std::string MacroMemoryRefusal(int profile, uint32_t use) {
    return "profile " + std::to_string(profile + 1) + "'s keys would take " + std::to_string(use) +
           " bytes of the keyboard's " + std::to_string(kMacroStreamSize) + "-byte macro memory, " +
           std::to_string(use - kMacroStreamSize) + " bytes over; nothing changed";
}

Result<std::unique_ptr<_QZ5_CONFIG>> LoadSettingsFile(const std::string& path) {
    try {
        std::string text, note;
        return Load(ThroughLinks(path), text, note);
    } catch (const std::runtime_error& e) {
        return Result<std::unique_ptr<_QZ5_CONFIG>>::Fail(e.what());
    }
}

Result<std::vector<std::string>> EditSettingsFile(const std::string& path,
                                                  const std::function<Result<>(_QZ5_CONFIG&)>& change) {
    using Out = Result<std::vector<std::string>>;
    try {
        std::vector<std::string> notes;
        EditLocked(
            path,
            [&](_QZ5_CONFIG& rec) {
                if (Result<> r = change(rec); !r) throw Refusal(r.error());
            },
            {{0, -1}, {1, -1}, {2, -1}}, notes);
        return notes;
    } catch (const std::runtime_error& e) {  // Refusal, Failure, WordError
        return Out::Fail(e.what());
    }
}

Result<SettingEdit> ParseSettingWords(const std::vector<std::string>& words) {
    try {
        if (words.empty() || words[0] != "set") throw Refusal("expected the words of set");
        Change c = ParseSet(words);
        return SettingEdit{c.edit, c.profile, c.apply};
    } catch (const std::runtime_error& e) {  // Refusal, WordError, Failure
        return Result<SettingEdit>::Fail(e.what());
    }
}

bool IsEditorCommand(const std::vector<std::string>& args) {
    size_t i = 0;
    while (i < args.size() && (args[i] == "--apply" || args[i] == "--no-wait" || args[i] == "--file"))
        i += args[i] == "--file" ? 2 : 1;
    if (i >= args.size()) return i > 0;
    const std::string& c = args[i];
    return c == "set" || c == "show" || c == "macro" || c == "profile" || c == "keys";
}

int RunEditorCommand(const std::vector<std::string>& args) {
    try {
        return Run(args);
    } catch (const Failure& e) {
        std::fprintf(stderr, "qz5ctl: %s\n", e.what());
        return 1;
    } catch (const std::runtime_error& e) {  // Refusal, WordError
        std::fprintf(stderr, "qz5ctl: %s\n", e.what());
        return 2;
    }
}
