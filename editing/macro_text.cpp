#include "editing/macro_text.hpp"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "editing/words.hpp"

namespace {

constexpr uint32_t kDelayCode = 255;
constexpr uint32_t kFirstBuiltIn = 208;
constexpr uint32_t kPressed = 1;
constexpr uint32_t kReleased = 0;
// What a built-in action's step stores besides its code.
constexpr uint32_t kBuiltInFlag = 0;

// The built-in actions from code 208 on, as the text names them.
const std::vector<std::string> kBuiltIns = {
    "pageup", "pagedown", "copy", "paste", "undo", "backspace", "cut", "selectall", "find",
    "print",  "save",     "new",  "click left", "click right", "click middle", "wheel up", "wheel down"};

// The key a press or release step stands for, when the text can name it.
bool NamedKeyStep(const _KEYMAP_INFO& s) {
    return s.KEYCODE >= 1 && s.KEYCODE < kFirstBuiltIn && KeyWordsOf(s.KEYCODE - 1) != nullptr &&
           (s.KEYFLAG == kPressed || s.KEYFLAG == kReleased);
}

std::string Line(int n, const std::string& problem) { return "line " + std::to_string(n) + ": " + problem; }

}  // namespace

std::vector<MacroLine> MacroLines(const _KEYMAP_INFO* steps, uint32_t count) {
    std::vector<MacroLine> out;
    for (uint32_t i = 0; i < count; ++i) {
        const _KEYMAP_INFO& s = steps[i];
        if (s.KEYCODE == kDelayCode) {
            out.push_back({"delay " + std::to_string(s.KEYFLAG), 1});
        } else if (NamedKeyStep(s)) {
            const std::string name = KeyName(s.KEYCODE - 1);
            const bool tap = s.KEYFLAG == kPressed && i + 1 < count && steps[i + 1].KEYCODE == s.KEYCODE &&
                             steps[i + 1].KEYFLAG == kReleased;
            out.push_back({(tap ? "tap " : s.KEYFLAG == kPressed ? "press " : "release ") + name, tap ? 2u : 1u});
            i += tap ? 1 : 0;
        } else if (s.KEYCODE >= kFirstBuiltIn && s.KEYCODE < kFirstBuiltIn + kBuiltIns.size() &&
                   s.KEYFLAG == kBuiltInFlag) {
            out.push_back({kBuiltIns[s.KEYCODE - kFirstBuiltIn], 1});
        } else {
            std::string raw = "raw ";
            raw += std::to_string(s.KEYCODE);
            raw += " ";
            raw += std::to_string(s.KEYFLAG);
            out.push_back({raw, 1});
        }
    }
    return out;
}

std::string MacroText(const _MACRO_INFO& macro) {
    std::string out;
    for (const MacroLine& line : MacroLines(macro.KEYMAP, std::min<uint32_t>(macro.LENGTH, kMacroStepMax)))
        out += line.text + "\n";
    return out;
}

std::string MacroExport(int profile, int keyIndex, const std::string& name, const _KEYMAP_INFO* steps,
                        uint32_t count) {
    std::string shown = name;  // on the comment line, whatever it holds
    for (char& c : shown) c = static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    std::string out = "# profile " + std::to_string(profile + 1) + " " + ProgKeyName(keyIndex) + ", macro \"" +
                      shown + "\": " + std::to_string(count) + " steps\n";
    for (const MacroLine& line : MacroLines(steps, std::min<uint32_t>(count, kMacroStepMax))) out += line.text + "\n";
    return out;
}

std::string TooManyStepsMessage(size_t steps) {
    return "the macro has " + std::to_string(steps) + " steps, " + std::to_string(steps - kMacroStepMax) +
           " over the " + std::to_string(kMacroStepMax) + " a key holds";
}

std::vector<_KEYMAP_INFO> ParseMacroText(const std::string& text, std::vector<std::string>& notes, int firstLine) {
    static const std::vector<std::string> kVerbs = {"press", "release", "tap", "delay", "click", "wheel", "raw",
                                                    "pageup", "pagedown", "copy", "paste", "undo", "backspace",
                                                    "cut", "selectall", "find", "print", "save", "new"};
    std::vector<_KEYMAP_INFO> steps;
    std::istringstream lines(text);
    std::string line;
    for (int n = firstLine; std::getline(lines, line); ++n) {
        line = line.substr(0, line.find('#'));
        std::istringstream in(line);
        std::vector<std::string> w;
        for (std::string word; in >> word;) w.push_back(word);
        if (w.empty()) continue;
        try {
            const size_t verb = Choose(w[0], kVerbs, "macro step");
            const std::string& v = kVerbs[verb];
            const size_t want = v == "raw" ? 3 : verb <= 5 ? 2 : 1;
            if (w.size() != want)
                throw WordError("'" + v + "' takes " +
                                (want == 1 ? std::string("nothing after it")
                                 : want == 3 ? std::string("KEYCODE KEYFLAG")
                                 : v == "click" ? std::string("left, right or middle")
                                 : v == "wheel" ? std::string("up or down")
                                 : v == "delay" ? std::string("a number")
                                                : std::string("one key name")));
            if (v == "press" || v == "release" || v == "tap") {
                const uint32_t code = KeyCodeOf(w[1], false) + 1;
                if (v != "release") steps.push_back({code, kPressed});
                if (v != "press") steps.push_back({code, kReleased});
            } else if (v == "delay") {
                const uint32_t d = NumberIn(w[1], 0, UINT32_MAX, "a delay");
                if (d > 0xFFFF)
                    notes.push_back(Line(n, "the keyboard keeps the low 16 bits of a delay: delay " +
                                                std::to_string(d) + " plays as delay " + std::to_string(d & 0xFFFF)));
                steps.push_back({kDelayCode, d});
            } else if (v == "click" || v == "wheel") {
                const std::vector<std::string> how =
                    v == "click" ? std::vector<std::string>{"left", "right", "middle"}
                                 : std::vector<std::string>{"up", "down"};
                const size_t i = Choose(w[1], how, v == "click" ? "mouse button" : "wheel direction");
                steps.push_back({kFirstBuiltIn + (v == "click" ? 12u : 15u) + static_cast<uint32_t>(i), kBuiltInFlag});
            } else if (v == "raw") {
                steps.push_back({NumberIn(w[1], 0, UINT32_MAX, "KEYCODE"), NumberIn(w[2], 0, UINT32_MAX, "KEYFLAG")});
            } else {
                steps.push_back({kFirstBuiltIn + static_cast<uint32_t>(verb - 7), kBuiltInFlag});
            }
        } catch (const WordError& e) {
            throw WordError(Line(n, e.what()));
        }
    }
    if (steps.size() > kMacroStepMax) throw WordError(TooManyStepsMessage(steps.size()));
    return steps;
}
