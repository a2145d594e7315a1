#include "editing/macro_steps.hpp"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <memory>
#include <cstring>
#include <sstream>

#include "editing/editor.hpp"
#include "editing/macro_text.hpp"
#include "editing/words.hpp"
#include "keyboard/encoding.hpp"

namespace {

constexpr uint32_t kDelayCode = 255;
constexpr uint32_t kDelayMax = 0xFFFF;  // what one delay step plays
constexpr size_t kUndoDepth = 200;

// Linux input key codes against the HID usages of the same keys, for the
// keys of the keyboard's key table.
struct LinuxKeyRow {
    uint16_t code;
    uint8_t usage;
};
constexpr LinuxKeyRow kLinuxKeys[] = {
    {KEY_A, 0x04}, {KEY_B, 0x05}, {KEY_C, 0x06}, {KEY_D, 0x07}, {KEY_E, 0x08}, {KEY_F, 0x09}, {KEY_G, 0x0A},
    {KEY_H, 0x0B}, {KEY_I, 0x0C}, {KEY_J, 0x0D}, {KEY_K, 0x0E}, {KEY_L, 0x0F}, {KEY_M, 0x10}, {KEY_N, 0x11},
    {KEY_O, 0x12}, {KEY_P, 0x13}, {KEY_Q, 0x14}, {KEY_R, 0x15}, {KEY_S, 0x16}, {KEY_T, 0x17}, {KEY_U, 0x18},
    {KEY_V, 0x19}, {KEY_W, 0x1A}, {KEY_X, 0x1B}, {KEY_Y, 0x1C}, {KEY_Z, 0x1D},
    {KEY_1, 0x1E}, {KEY_2, 0x1F}, {KEY_3, 0x20}, {KEY_4, 0x21}, {KEY_5, 0x22}, {KEY_6, 0x23}, {KEY_7, 0x24},
    {KEY_8, 0x25}, {KEY_9, 0x26}, {KEY_0, 0x27},
    {KEY_ENTER, 0x28}, {KEY_ESC, 0x29}, {KEY_BACKSPACE, 0x2A}, {KEY_TAB, 0x2B}, {KEY_SPACE, 0x2C},
    {KEY_MINUS, 0x2D}, {KEY_EQUAL, 0x2E}, {KEY_LEFTBRACE, 0x2F}, {KEY_RIGHTBRACE, 0x30}, {KEY_BACKSLASH, 0x31},
    {KEY_SEMICOLON, 0x33}, {KEY_APOSTROPHE, 0x34}, {KEY_GRAVE, 0x35}, {KEY_COMMA, 0x36}, {KEY_DOT, 0x37},
    {KEY_SLASH, 0x38}, {KEY_CAPSLOCK, 0x39},
    {KEY_F1, 0x3A}, {KEY_F2, 0x3B}, {KEY_F3, 0x3C}, {KEY_F4, 0x3D}, {KEY_F5, 0x3E}, {KEY_F6, 0x3F},
    {KEY_F7, 0x40}, {KEY_F8, 0x41}, {KEY_F9, 0x42}, {KEY_F10, 0x43}, {KEY_F11, 0x44}, {KEY_F12, 0x45},
    {KEY_SYSRQ, 0x46}, {KEY_SCROLLLOCK, 0x47}, {KEY_PAUSE, 0x48}, {KEY_INSERT, 0x49}, {KEY_HOME, 0x4A},
    {KEY_PAGEUP, 0x4B}, {KEY_DELETE, 0x4C}, {KEY_END, 0x4D}, {KEY_PAGEDOWN, 0x4E}, {KEY_RIGHT, 0x4F},
    {KEY_LEFT, 0x50}, {KEY_DOWN, 0x51}, {KEY_UP, 0x52}, {KEY_NUMLOCK, 0x53}, {KEY_KPSLASH, 0x54},
    {KEY_KPASTERISK, 0x55}, {KEY_KPMINUS, 0x56}, {KEY_KPPLUS, 0x57}, {KEY_KPENTER, 0x58}, {KEY_KP1, 0x59},
    {KEY_KP2, 0x5A}, {KEY_KP3, 0x5B}, {KEY_KP4, 0x5C}, {KEY_KP5, 0x5D}, {KEY_KP6, 0x5E}, {KEY_KP7, 0x5F},
    {KEY_KP8, 0x60}, {KEY_KP9, 0x61}, {KEY_KP0, 0x62}, {KEY_KPDOT, 0x63}, {KEY_102ND, 0x64},
    {KEY_COMPOSE, 0x65},
    {KEY_LEFTCTRL, 0xE0}, {KEY_LEFTSHIFT, 0xE1}, {KEY_LEFTALT, 0xE2}, {KEY_LEFTMETA, 0xE3},
    {KEY_RIGHTCTRL, 0xE4}, {KEY_RIGHTSHIFT, 0xE5}, {KEY_RIGHTALT, 0xE6},
};

bool SameRecord(const _KEYMAP_INFO& a, const _KEYMAP_INFO& b) { return a.KEYCODE == b.KEYCODE && a.KEYFLAG == b.KEYFLAG; }

uint32_t Rounded(uint64_t ms, uint32_t to) {
    if (to <= 1) return static_cast<uint32_t>(std::min<uint64_t>(ms, UINT32_MAX));
    return static_cast<uint32_t>(std::min<uint64_t>((ms + to / 2) / to * to, UINT32_MAX));
}

// A wait of ms as delay steps, each at most what one plays.
void PutDelay(std::vector<MacroStep>& out, uint64_t ms) {
    for (; ms > kDelayMax; ms -= kDelayMax) out.push_back(DelayStep(kDelayMax));
    if (ms > 0) out.push_back(DelayStep(static_cast<uint32_t>(ms)));
}

}  // namespace

std::string MacroStep::Text() const {
    const auto lines = MacroLines(records.data(), static_cast<uint32_t>(records.size()));
    std::string out;
    for (const auto& l : lines) out += (out.empty() ? "" : "; ") + l.text;
    return out;
}

bool MacroStep::IsDelay() const { return records.size() == 1 && records[0].KEYCODE == kDelayCode; }

bool MacroStep::operator==(const MacroStep& other) const {
    return std::equal(records.begin(), records.end(), other.records.begin(), other.records.end(), SameRecord);
}

MacroStep DelayStep(uint32_t ms) { return {{{kDelayCode, ms}}}; }
MacroStep KeyStep(uint32_t vkey, bool pressed) { return {{{vkey + 1, pressed ? 1u : 0u}}}; }
MacroStep ClickStep(int button) { return {{{encoding::kFirstBuiltIn + 12 + static_cast<uint32_t>(button), 0}}}; }
MacroStep WheelStep(bool up) { return {{{encoding::kFirstBuiltIn + (up ? 15u : 16u), 0}}}; }

Result<std::vector<MacroStep>> ParseSteps(const std::string& text, std::vector<std::string>* notes, int firstLine) {
    std::vector<MacroStep> out;
    std::vector<std::string> ignored;
    std::istringstream lines(text);
    std::string line;
    size_t records = 0;
    try {
        for (int n = firstLine; std::getline(lines, line); ++n) {
            auto parsed = ParseMacroText(line, notes ? *notes : ignored, n);
            if (parsed.empty()) continue;
            records += parsed.size();
            out.push_back({std::move(parsed)});
        }
    } catch (const WordError& e) {
        return Result<std::vector<MacroStep>>::Fail(e.what());
    }
    if (records > static_cast<size_t>(kMacroStepMax))
        return Result<std::vector<MacroStep>>::Fail(TooManyStepsMessage(records));
    return out;
}

std::vector<MacroStep> StepsOf(const _KEYMAP_INFO* records, uint32_t count) {
    std::vector<MacroStep> out;
    uint32_t at = 0;
    for (const MacroLine& line : MacroLines(records, count)) {
        out.push_back({std::vector<_KEYMAP_INFO>(records + at, records + at + line.records)});
        at += line.records;
    }
    return out;
}

std::vector<MacroStep> StepsFromRecording(const std::vector<RecordedKey>& keys, const DelayMode& mode) {
    std::vector<MacroStep> out;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i > 0 && mode.kind != DelayMode::None) {
            const uint64_t gap = keys[i].ms > keys[i - 1].ms ? keys[i].ms - keys[i - 1].ms : 0;
            PutDelay(out, mode.kind == DelayMode::Fixed ? mode.fixedMs : Rounded(gap, mode.roundMs));
        }
        const RecordedKey& k = keys[i];
        out.push_back(k.mouse == RecordedKey::NoMouse ? KeyStep(k.vkey, k.pressed)
                      : k.mouse < RecordedKey::WheelUp ? ClickStep(k.mouse)
                                                       : WheelStep(k.mouse == RecordedKey::WheelUp));
    }
    return out;
}

int MacKeyOfLinuxKey(uint32_t code) {
    for (const auto& row : kLinuxKeys) {
        if (row.code != code) continue;
        for (const auto& u : UsageID_MacVk)
            if (u.usage == row.usage) return static_cast<int>(u.macVk);
    }
    return -1;
}

MacroSteps::MacroSteps(const _MACRO_INFO& macro)
    : steps_(StepsOf(macro.KEYMAP, std::min<uint32_t>(macro.LENGTH, kMacroStepMax))),
      name_(macro.MACRONAME, strnlen(macro.MACRONAME, sizeof macro.MACRONAME)) {}

size_t MacroSteps::Records() const {
    size_t n = 0;
    for (const auto& s : steps_) n += s.records.size();
    return n;
}

std::vector<_KEYMAP_INFO> MacroSteps::Flat() const {
    std::vector<_KEYMAP_INFO> out;
    out.reserve(Records());
    for (const auto& s : steps_) out.insert(out.end(), s.records.begin(), s.records.end());
    return out;
}

void MacroSteps::Remember() {
    undo_.push_back({steps_, name_});
    if (undo_.size() > kUndoDepth) undo_.erase(undo_.begin());
    redo_.clear();
}

void MacroSteps::Insert(size_t at, const std::vector<MacroStep>& steps) {
    if (steps.empty()) return;
    Remember();
    steps_.insert(steps_.begin() + static_cast<std::ptrdiff_t>(std::min(at, steps_.size())), steps.begin(), steps.end());
}

void MacroSteps::Change(size_t index, const MacroStep& step) {
    if (index >= steps_.size() || steps_[index] == step) return;
    Remember();
    steps_[index] = step;
}

void MacroSteps::Move(size_t index, size_t to) {
    if (steps_.empty()) return;
    to = std::min(to, steps_.size() - 1);
    if (index >= steps_.size() || index == to) return;
    Remember();
    MacroStep s = std::move(steps_[index]);
    steps_.erase(steps_.begin() + static_cast<std::ptrdiff_t>(index));
    steps_.insert(steps_.begin() + static_cast<std::ptrdiff_t>(to), std::move(s));
}

void MacroSteps::Duplicate(size_t index) {
    if (index >= steps_.size()) return;
    Remember();
    steps_.insert(steps_.begin() + static_cast<std::ptrdiff_t>(index) + 1, steps_[index]);
}

void MacroSteps::Delete(size_t index, size_t count) {
    if (index >= steps_.size() || count == 0) return;
    Remember();
    const auto first = steps_.begin() + static_cast<std::ptrdiff_t>(index);
    steps_.erase(first, first + static_cast<std::ptrdiff_t>(std::min(count, steps_.size() - index)));
}

void MacroSteps::Clear() {
    if (steps_.empty()) return;
    Remember();
    steps_.clear();
}

Result<> MacroSteps::SetName(const std::string& name) {
    if (const std::string why = TextRefusal(name, "the macro's name"); !why.empty()) return Result<>::Fail(why);
    if (name == name_) return {};
    Remember();
    name_ = name;
    return {};
}

void MacroSteps::ApplyDelays(const DelayMode& mode) {
    std::vector<MacroStep> out;
    if (mode.kind == DelayMode::Fixed) {
        // Runs of delays become one; a gap between two other steps gets one.
        for (const auto& s : steps_) {
            const bool delay = s.IsDelay();
            if (delay && !out.empty() && out.back().IsDelay()) continue;
            if (!delay && !out.empty() && !out.back().IsDelay()) PutDelay(out, mode.fixedMs);
            if (delay) PutDelay(out, mode.fixedMs);
            else out.push_back(s);
        }
    } else {
        for (const auto& s : steps_) {
            if (!s.IsDelay()) out.push_back(s);
            else if (mode.kind == DelayMode::AsRecorded)
                if (const uint32_t d = Rounded(s.records[0].KEYFLAG, mode.roundMs); d > 0) out.push_back(DelayStep(d));
        }
    }
    if (std::equal(out.begin(), out.end(), steps_.begin(), steps_.end())) return;
    Remember();
    steps_ = std::move(out);
}

Result<> MacroSteps::Import(const std::string& text, std::vector<std::string>* notes) {
    auto parsed = ParseSteps(text, notes);
    if (!parsed) return Result<>::Fail(parsed.error());
    Remember();
    steps_ = std::move(*parsed);
    return {};
}

std::string MacroSteps::Export(int profile, int keyIndex) const {
    const auto flat = Flat();
    return MacroExport(profile, keyIndex, name_, flat.data(), static_cast<uint32_t>(flat.size()));
}

bool MacroSteps::StepTo(std::vector<State>& from, std::vector<State>& to) {
    if (from.empty()) return false;
    to.push_back({std::move(steps_), std::move(name_)});
    steps_ = std::move(from.back().steps);
    name_ = std::move(from.back().name);
    from.pop_back();
    return true;
}

bool MacroSteps::Undo() { return StepTo(undo_, redo_); }

bool MacroSteps::Redo() { return StepTo(redo_, undo_); }

MacroCapacity MacroSteps::Measure(const _QZ5_PROFILE& prof, int profile, int keyIndex) const {
    MacroCapacity c;
    c.records = Records();
    const _TKEY_INFO& now = encoding::KeyInfo(prof, keyIndex);
    auto key = std::make_unique<_TKEY_INFO>(now);
    key->FUNCID = 2;
    const auto flat = Flat();
    key->MACRO.LENGTH = static_cast<uint32_t>(std::min<size_t>(flat.size(), kMacroStepMax));
    std::copy_n(flat.begin(), key->MACRO.LENGTH, key->MACRO.KEYMAP);
    const auto k = static_cast<uint32_t>(keyIndex);
    c.bytes = ProfileMacroMemoryUse(prof) - (encoding::HasAction(now.FUNCID) ? ActionLength(k, now) : 0) +
              ActionLength(k, *key);
    if (c.records > static_cast<size_t>(kMacroStepMax)) c.refusal = TooManyStepsMessage(c.records);
    else if (c.bytes > static_cast<uint32_t>(kMacroStreamSize)) c.refusal = MacroMemoryRefusal(profile, c.bytes);
    return c;
}

Result<> MacroSteps::StoreInto(_QZ5_PROFILE& prof, int profile, int keyIndex) const {
    const MacroCapacity c = Measure(prof, profile, keyIndex);
    if (!c.refusal.empty()) return Result<>::Fail(c.refusal);
    PutInto(prof, keyIndex);
    return {};
}

void MacroSteps::PutInto(_QZ5_PROFILE& prof, int keyIndex) const {
    _TKEY_INFO& key = keyIndex < kTKeyCount ? prof.TKEYINFO[keyIndex] : prof.MAPPINGKEYINFO[keyIndex - kTKeyCount];
    key.FUNCID = 2;
    std::fill(std::begin(key.MACRO.MACRONAME), std::end(key.MACRO.MACRONAME), '\0');
    std::copy_n(name_.begin(), std::min<size_t>(name_.size(), kTextSize - 1), key.MACRO.MACRONAME);
    std::fill(std::begin(key.MACRO.KEYMAP), std::end(key.MACRO.KEYMAP), _KEYMAP_INFO{});
    const auto flat = Flat();
    key.MACRO.LENGTH = static_cast<uint32_t>(std::min<size_t>(flat.size(), kMacroStepMax));
    std::copy_n(flat.begin(), key.MACRO.LENGTH, key.MACRO.KEYMAP);
}
