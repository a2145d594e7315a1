// Reading the settings file into the configuration record.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "config/xmlconfig.hpp"
#include "platform/file_io.hpp"

namespace {

constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_embed_pcdata | pugi::parse_ws_pcdata_single;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The text content of a leaf element: embedded character data plus any
// character-data and CDATA children.
std::string TextOf(pugi::xml_node node) {
    std::string text = node.value();
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) text += c.value();
    return text;
}

// The decimal integer the text begins with, after white space; its low 32 bits.
uint32_t LeadingDecimal(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    uint32_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) v = v * 10u + static_cast<uint32_t>(s[i] - '0');
    return negative ? 0u - v : v;
}

// A real truncated toward zero, its low 32 bits; NaN and infinities read 0.
uint32_t TruncatedReal(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i])) ++i;
    if (i < s.size() && s[i] == '+') ++i;
    double d = 0;
    const auto res = std::from_chars(s.data() + i, s.data() + s.size(), d);
    if (res.ec != std::errc() || !std::isfinite(d)) return 0;
    const double m = std::fmod(std::trunc(d), 4294967296.0);  // exact, sign of d
    return static_cast<uint32_t>(static_cast<int64_t>(m));
}

// One entry where an integer is expected. Missing entries and containers read 0.
uint32_t ReadU32(pugi::xml_node v) {
    if (!v) return 0;
    const std::string_view name = v.name();
    if (name == "integer" || name == "string") return LeadingDecimal(TextOf(v));
    if (name == "real") return TruncatedReal(TextOf(v));
    if (name == "true") return 1;
    return 0;  // false, dict, array, data, date
}

// A text entry into a 256-byte field: at most 255 bytes, never a split character.
void ReadText(pugi::xml_node v, char (&out)[kTextSize]) {
    std::memset(out, 0, sizeof out);
    if (!v || std::string_view(v.name()) != "string") return;
    const std::string text = TextOf(v);
    size_t n = std::min(std::strlen(text.c_str()), sizeof out - 1);
    if (n < text.size() && text[n] != '\0')
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(out, text.data(), n);
}

// "PREFIX_n" with n a decimal number without leading zeros, 1 to max; 0 otherwise.
int IndexedKey(std::string_view key, std::string_view prefix, int max) {
    if (key.size() <= prefix.size() || key.substr(0, prefix.size()) != prefix) return 0;
    const std::string_view digits = key.substr(prefix.size());
    if (digits[0] == '0' || digits.size() > 6) return 0;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return n <= max ? n : 0;
}

// The element after n, skipping character data between elements.
pugi::xml_node NextElement(pugi::xml_node n) {
    n = n.next_sibling();
    while (n && n.type() != pugi::node_element) n = n.next_sibling();
    return n;
}

// Calls fn(key, value) for each pair of a dictionary, in file order, so a
// later duplicate key wins. Pairs are formed from the elements alone, as the
// structure check counts them.
template <typename Fn>
void ForEachPair(pugi::xml_node dict, Fn&& fn) {
    for (pugi::xml_node k = dict.child("key"); k; k = k.next_sibling("key")) {
        const pugi::xml_node v = NextElement(k);
        if (!v) continue;
        if (!k.first_child()) {  // the usual case: the text is embedded in the element
            fn(std::string_view(k.value()), v);
            continue;
        }
        const std::string key = TextOf(k);  // CDATA, or text split by a comment
        fn(std::string_view(key), v);
    }
}

pugi::xml_node DictOrNull(pugi::xml_node v) {
    return v && std::string_view(v.name()) == "dict" ? v : pugi::xml_node();
}

const std::string_view kLeafNames[] = {"key", "string", "integer", "real", "true", "false", "data", "date"};

bool IsLeaf(std::string_view name) {
    for (auto n : kLeafNames)
        if (n == name) return true;
    return false;
}

// Far deeper than any settings file (which nests seven levels); deeper
// documents are refused rather than walked.
constexpr int kMaxDepth = 128;

// Structure of a property list: one <plist> holding one <dict>; containers hold
// only plist elements, dictionaries alternate key and value, leaves hold no
// elements, nesting stays within kMaxDepth. Walks the tree without recursion.
bool IsPropertyListDict(const pugi::xml_document& doc) {
    const pugi::xml_node plist = doc.document_element();
    if (std::string_view(plist.name()) != "plist") return false;
    pugi::xml_node root;
    for (pugi::xml_node c = plist.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element) continue;
        if (root) return false;
        root = c;
    }
    if (!root || std::string_view(root.name()) != "dict") return false;

    pugi::xml_node n = root;
    int depth = 0;
    while (true) {
        const std::string_view name = n.name();
        const bool isDict = name == "dict";
        const bool isArray = name == "array";
        if (!isDict && !isArray && !IsLeaf(name)) return false;
        bool expectKey = true;
        pugi::xml_node firstElement;
        for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element) continue;
            if (!isDict && !isArray) return false;  // a leaf holding an element
            if (isDict) {
                if ((std::string_view(c.name()) == "key") != expectKey) return false;
                expectKey = !expectKey;
            } else if (std::string_view(c.name()) == "key") {
                return false;
            }
            if (!firstElement) firstElement = c;
        }
        if (isDict && !expectKey) return false;  // a key without its value
        if (firstElement) {
            if (++depth > kMaxDepth) return false;
            n = firstElement;
            continue;
        }
        // Next element in document order: a following sibling of n or of an ancestor.
        while (n != root) {
            pugi::xml_node s = n.next_sibling();
            while (s && s.type() != pugi::node_element) s = s.next_sibling();
            if (s) {
                n = s;
                break;
            }
            n = n.parent();
            --depth;
        }
        if (n == root) return true;
    }
}

}  // namespace

std::string xmlconfig::pConfigFileName;

void xmlconfig::setConfigfileName(const std::string& path) { pConfigFileName = path; }

const std::string& xmlconfig::ConfigfileName() { return pConfigFileName; }

_QZ5_CONFIG xmlconfig::getConfig() const { return m_Config; }

bool xmlconfig::LoadConfigFile() {
    // Read into a scratch record, so that m_Config changes only as a whole.
    auto scratch = std::make_unique<_QZ5_CONFIG>(m_Config);
    if (!ReadFileInto(pConfigFileName, *scratch)) {
        InitialConfigData();
        return false;
    }
    std::memcpy(&m_Config, scratch.get(), sizeof m_Config);
    return true;
}

bool xmlconfig::ReadFileInto(const std::string& path, _QZ5_CONFIG& rec) {
    // pugixml parses in place and keeps pointers into this buffer.
    std::string buffer;
    if (!ReadWholeFile(path, buffer) || buffer.empty()) return false;

    pugi::xml_document doc;
    if (!doc.load_buffer_inplace(buffer.data(), buffer.size(), kParseOptions)) return false;
    if (!IsPropertyListDict(doc)) return false;

    pConfig = doc.document_element().find_child(
        [](pugi::xml_node c) { return c.type() == pugi::node_element; });
    pugi::xml_node profiles[kProfileCount];
    pugi::xml_node profileId, gameMode;
    pLightInfo = pugi::xml_node();
    ForEachPair(pConfig, [&](std::string_view key, pugi::xml_node v) {
        if (key == "PROFILE_ID") profileId = v;
        else if (key == "GAME_MODE") gameMode = v;
        else if (key == "LIGHT_OPTION") pLightInfo = DictOrNull(v);
        else if (int p = IndexedKey(key, "PROFILE_", kProfileCount)) profiles[p - 1] = DictOrNull(v);
    });

    // A profile number the record cannot hold selects the first profile.
    rec.PROFILE_ID = ReadU32(profileId);
    if (rec.PROFILE_ID >= kProfileCount) rec.PROFILE_ID = 0;
    rec.GAME_MODE = ReadU32(gameMode);

    pugi::xml_node light[5];
    ForEachPair(pLightInfo, [&](std::string_view key, pugi::xml_node v) {
        if (key == "LIGHT_STYLE") light[0] = v;
        else if (key == "WASDLIGHT") light[1] = v;
        else if (key == "DIRECTLIGHT") light[2] = v;
        else if (key == "NUMBERLIGHT") light[3] = v;
        else if (key == "PELLFLAGLIGHT") light[4] = v;
    });
    rec.LIGHT_OPTION.LIGHT_STYLE = ReadU32(light[0]);
    rec.LIGHT_OPTION.WASDLIGHT = ReadU32(light[1]);
    rec.LIGHT_OPTION.DIRECTLIGHT = ReadU32(light[2]);
    rec.LIGHT_OPTION.NUMBERLIGHT = ReadU32(light[3]);
    rec.LIGHT_OPTION.PELLFLAGLIGHT = ReadU32(light[4]);

    for (int p = 0; p < kProfileCount; ++p) {
        pProfile = profiles[p];
        ReadProfile(rec.PROFILE[p]);
    }
    return true;
}

void xmlconfig::ReadProfile(_QZ5_PROFILE& profile) {
    pugi::xml_node keys[kKeySlotCount];
    pugi::xml_node tkeys[kTKeyCount];
    pugi::xml_node mkeys[kMappingKeyCount];
    pInstantInfo = pugi::xml_node();
    ForEachPair(pProfile, [&](std::string_view key, pugi::xml_node v) {
        if (int k = IndexedKey(key, "KEY_", kKeySlotCount)) keys[k - 1] = v;
        else if (int t = IndexedKey(key, "TKEYINFO_", kTKeyCount)) tkeys[t - 1] = DictOrNull(v);
        else if (int m = IndexedKey(key, "MAPPINGKEYINFO_", kMappingKeyCount)) mkeys[m - 1] = DictOrNull(v);
        else if (key == "INSTANT_SHIFT") pInstantInfo = DictOrNull(v);
    });
    for (int k = 0; k < kKeySlotCount; ++k) profile.KEY[k] = ReadU32(keys[k]);
    for (int t = 0; t < kTKeyCount; ++t) {
        pTKey_info = tkeys[t];
        ReadKeyInfo(pTKey_info, profile.TKEYINFO[t]);
    }
    for (int m = 0; m < kMappingKeyCount; ++m) {
        pMappingKey_info = mkeys[m];
        ReadKeyInfo(pMappingKey_info, profile.MAPPINGKEYINFO[m]);
    }
    pugi::xml_node pre, next;
    ForEachPair(pInstantInfo, [&](std::string_view key, pugi::xml_node v) {
        if (key == "PREKEY") pre = v;
        else if (key == "NEXTKEY") next = v;
    });
    profile.INSTANT_SHIFT.PREKEY = ReadU32(pre);
    profile.INSTANT_SHIFT.NEXTKEY = ReadU32(next);
}

void xmlconfig::ReadKeyInfo(pugi::xml_node dict, _TKEY_INFO& key) {
    pugi::xml_node funcId, launchPath, singleKey, mapKey;
    pMacroInfo = pugi::xml_node();
    ForEachPair(dict, [&](std::string_view k, pugi::xml_node v) {
        if (k == "FUNCID") funcId = v;
        else if (k == "LAUNCHPATH") launchPath = v;
        else if (k == "SINGLE_KEYCODE") singleKey = v;
        else if (k == "MAPKEY_KEYCODE") mapKey = v;
        else if (k == "MACRO") pMacroInfo = DictOrNull(v);
    });
    key.FUNCID = ReadU32(funcId);
    ReadText(launchPath, key.LAUNCHPATH);
    key.SINGLE_KEYCODE = ReadU32(singleKey);
    key.MAPKEY_KEYCODE = ReadU32(mapKey);

    _MACRO_INFO& macro = key.MACRO;
    pugi::xml_node name, length, repeatOption, repeatTimes;
    ForEachPair(pMacroInfo, [&](std::string_view k, pugi::xml_node v) {
        if (k == "MACRONAME") name = v;
        else if (k == "LENGTH") length = v;
        else if (k == "REPEAT_OPTION") repeatOption = v;
        else if (k == "REPEAT_TIMES") repeatTimes = v;
    });
    ReadText(name, macro.MACRONAME);
    // A macro longer than the record holds keeps its first kMacroStepMax steps.
    macro.LENGTH = std::min<uint32_t>(ReadU32(length), kMacroStepMax);
    macro.REPEAT_OPTION = ReadU32(repeatOption);
    macro.REPEAT_TIMES = ReadU32(repeatTimes);
    if (macro.LENGTH == 0) return;

    std::vector<pugi::xml_node> steps(macro.LENGTH);
    ForEachPair(pMacroInfo, [&](std::string_view k, pugi::xml_node v) {
        if (int i = IndexedKey(k, "KEYMAP_", static_cast<int>(macro.LENGTH))) steps[i - 1] = DictOrNull(v);
    });
    for (uint32_t i = 0; i < macro.LENGTH; ++i) {
        pKeymapInfo = steps[i];
        pugi::xml_node code, flag;
        ForEachPair(pKeymapInfo, [&](std::string_view k, pugi::xml_node v) {
            if (k == "KEYCODE") code = v;
            else if (k == "KEYFLAG") flag = v;
        });
        macro.KEYMAP[i].KEYCODE = ReadU32(code);
        macro.KEYMAP[i].KEYFLAG = ReadU32(flag);
    }
}

std::optional<std::string> xmlconfig::GetSubString(size_t* pos, const std::string& srcString) {
    if (*pos >= srcString.size()) return std::nullopt;
    const size_t comma = srcString.find(',', *pos);
    if (comma == std::string::npos) return std::nullopt;
    std::string token = srcString.substr(*pos, comma - *pos);
    *pos = comma + 1;
    return token;
}

namespace {

// The dictionaries the record is read from, and the keys the record holds in each.
enum class DictKind { Root, Light, Profile, KeyInfo, Macro, Step, Shift, None };

// What the record makes of key in a dictionary of this kind: DictKind::None
// when the record does not hold it; for a key it holds, the kind of
// dictionary its value is read as, None for a leaf.
std::optional<DictKind> OwnedKey(DictKind kind, std::string_view key) {
    auto any = [&](std::initializer_list<std::string_view> names) {
        for (auto n : names)
            if (key == n) return true;
        return false;
    };
    switch (kind) {
        case DictKind::Root:
            if (any({"PROFILE_ID", "GAME_MODE"})) return DictKind::None;
            if (key == "LIGHT_OPTION") return DictKind::Light;
            if (IndexedKey(key, "PROFILE_", kProfileCount)) return DictKind::Profile;
            break;
        case DictKind::Light:
            if (any({"LIGHT_STYLE", "WASDLIGHT", "DIRECTLIGHT", "NUMBERLIGHT", "PELLFLAGLIGHT"})) return DictKind::None;
            break;
        case DictKind::Profile:
            if (IndexedKey(key, "KEY_", kKeySlotCount)) return DictKind::None;
            if (IndexedKey(key, "TKEYINFO_", kTKeyCount) || IndexedKey(key, "MAPPINGKEYINFO_", kMappingKeyCount))
                return DictKind::KeyInfo;
            if (key == "INSTANT_SHIFT") return DictKind::Shift;
            break;
        case DictKind::KeyInfo:
            if (any({"FUNCID", "LAUNCHPATH", "SINGLE_KEYCODE", "MAPKEY_KEYCODE"})) return DictKind::None;
            if (key == "MACRO") return DictKind::Macro;
            break;
        case DictKind::Macro:
            if (any({"MACRONAME", "LENGTH", "REPEAT_OPTION", "REPEAT_TIMES"})) return DictKind::None;
            if (IndexedKey(key, "KEYMAP_", kMacroStepMax)) return DictKind::Step;
            break;
        case DictKind::Step:
            if (any({"KEYCODE", "KEYFLAG"})) return DictKind::None;
            break;
        case DictKind::Shift:
            if (any({"PREKEY", "NEXTKEY"})) return DictKind::None;
            break;
        case DictKind::None:
            break;
    }
    return std::nullopt;
}

struct StringWriter : pugi::xml_writer {
    std::string& out;
    explicit StringWriter(std::string& o) : out(o) {}
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

// Collects the foreign entries of dict (at path, its entries depth levels
// deep in the writer's indentation) and of the dictionaries below it that the
// record is read from. Of a key the record holds more than once, the last
// occurrence is the one read, and the one walked.
void CollectForeign(pugi::xml_node dict, DictKind kind, const std::string& path, unsigned depth,
                    ForeignEntries& out) {
    std::map<std::string, pugi::xml_node> children;
    for (pugi::xml_node k = dict.child("key"); k; k = k.next_sibling("key")) {
        const pugi::xml_node v = NextElement(k);
        if (!v) continue;
        const std::string key = k.first_child() ? TextOf(k) : std::string(k.value());
        const auto owned = OwnedKey(kind, key);
        if (owned) {
            if (*owned != DictKind::None) children[key] = DictOrNull(v);
            continue;
        }
        StringWriter w(out[path]);
        constexpr unsigned kFormat = pugi::format_indent | pugi::format_no_empty_element_tags;
        k.print(w, "\t", kFormat, pugi::encoding_utf8, depth);
        v.print(w, "\t", kFormat, pugi::encoding_utf8, depth);
    }
    for (const auto& [key, child] : children) {
        if (!child) continue;
        const DictKind childKind = *OwnedKey(kind, key);
        CollectForeign(child, childKind, path.empty() ? key : path + "/" + key, depth + 1, out);
    }
}

}  // namespace

ForeignEntries ReadForeignEntries(const std::string& xml) {
    ForeignEntries out;
    std::string buffer = xml;
    pugi::xml_document doc;
    if (buffer.empty() || !doc.load_buffer_inplace(buffer.data(), buffer.size(), kParseOptions) ||
        !IsPropertyListDict(doc))
        return out;
    const pugi::xml_node root =
        doc.document_element().find_child([](pugi::xml_node c) { return c.type() == pugi::node_element; });
    CollectForeign(root, DictKind::Root, "", 1, out);
    return out;
}
