// Reading the settings file into the configuration record.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "config/settings_schema.hpp"
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

namespace {

// Reads dictionaries into the record as the schema lays them out.
class SchemaReader {
public:
    explicit SchemaReader(pugi::xml_node* const (&cursors)[kSettingDictCount]) : cursors_(cursors) {}

    // Reads dict (a null node reads as an empty dictionary) into the part of
    // the record at base. Missing integers read 0 and missing texts "".
    void Read(SettingDict kind, pugi::xml_node dict, void* base) {
        const int k = static_cast<int>(kind);
        if (cursors_[k]) *cursors_[k] = dict;
        const auto entries = SettingEntries(kind);
        // The value node of every entry read in the first pass, one slot each;
        // entries counted by another field are looked up once that is read.
        std::vector<pugi::xml_node>& slots = slots_[k];
        size_t first[16];
        size_t total = 0;
        for (size_t i = 0; i < entries.size(); ++i) {
            first[i] = total;
            if (entries[i].countFrom < 0) total += static_cast<size_t>(std::max(entries[i].count, 1));
        }
        slots.assign(total, pugi::xml_node());
        ForEachPair(dict, [&](std::string_view key, pugi::xml_node v) {
            int index = 0;
            const SettingEntry* e = FindSetting(kind, key, &index);
            if (!e || e->countFrom >= 0) return;
            slots[first[static_cast<size_t>(e - entries.data())] + static_cast<size_t>(index)] =
                e->kind == SettingKind::Dict ? DictOrNull(v) : v;
        });
        for (size_t i = 0; i < entries.size(); ++i) {
            const SettingEntry& e = entries[i];
            if (e.countFrom >= 0) continue;
            for (int n = 0; n < std::max(e.count, 1); ++n) {
                const pugi::xml_node v = slots_[k][first[i] + static_cast<size_t>(n)];
                switch (e.kind) {
                    case SettingKind::Integer: IntegerField(base, e, n) = Limited(e, ReadU32(v)); break;
                    case SettingKind::Text: ReadText(v, TextField(base, e, n)); break;
                    case SettingKind::Dict: Read(e.dict, v, DictField(base, e, n)); break;
                }
            }
        }
        for (const SettingEntry& e : entries) {
            if (e.countFrom < 0) continue;
            const int inUse = EntriesInUse(base, entries, e);
            if (inUse == 0) continue;
            std::vector<pugi::xml_node> nodes(static_cast<size_t>(inUse));
            ForEachPair(dict, [&](std::string_view key, pugi::xml_node v) {
                int index = 0;
                if (FindSetting(kind, key, &index) == &e && index < inUse)
                    nodes[static_cast<size_t>(index)] = e.kind == SettingKind::Dict ? DictOrNull(v) : v;
            });
            for (int n = 0; n < inUse; ++n) Read(e.dict, nodes[static_cast<size_t>(n)], DictField(base, e, n));
        }
    }

private:
    static uint32_t Limited(const SettingEntry& e, uint32_t v) {
        if (v <= e.max) return v;
        switch (e.aboveMax) {
            case AboveMax::Kept: return v;
            case AboveMax::ReadsZero: return 0;
            case AboveMax::ReadsMax: return e.max;
        }
        return v;
    }

    pugi::xml_node* const (&cursors_)[kSettingDictCount];
    // A dictionary never holds one of its own kind, so one scratch list per kind will do.
    std::vector<pugi::xml_node> slots_[kSettingDictCount];
};

}  // namespace

bool xmlconfig::ReadFileInto(const std::string& path, _QZ5_CONFIG& rec) {
    // pugixml parses in place and keeps pointers into this buffer.
    std::string buffer;
    if (!ReadWholeFile(path, buffer) || buffer.empty()) return false;

    pugi::xml_document doc;
    if (!doc.load_buffer_inplace(buffer.data(), buffer.size(), kParseOptions)) return false;
    if (!IsPropertyListDict(doc)) return false;

    pugi::xml_node* const cursors[kSettingDictCount] = {&pConfig, &pLightInfo, &pProfile, &pTKey_info,
                                                        &pMacroInfo, &pKeymapInfo, &pInstantInfo};
    pMappingKey_info = pugi::xml_node();
    SchemaReader reader(cursors);
    reader.Read(SettingDict::Root,
                doc.document_element().find_child([](pugi::xml_node c) { return c.type() == pugi::node_element; }),
                &rec);
    return true;
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

// What the record makes of key in a dictionary of this kind: nothing when
// the record does not hold it; for a key it holds, the kind of dictionary its
// value is read as, none for a leaf.
std::optional<std::optional<SettingDict>> OwnedKey(SettingDict kind, std::string_view key) {
    const SettingEntry* e = FindSetting(kind, key);
    if (!e) return std::nullopt;
    return e->kind == SettingKind::Dict ? std::optional<SettingDict>(e->dict) : std::nullopt;
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
void CollectForeign(pugi::xml_node dict, SettingDict kind, const std::string& path, unsigned depth,
                    ForeignEntries& out) {
    std::map<std::string, pugi::xml_node> children;
    for (pugi::xml_node k = dict.child("key"); k; k = k.next_sibling("key")) {
        const pugi::xml_node v = NextElement(k);
        if (!v) continue;
        const std::string key = k.first_child() ? TextOf(k) : std::string(k.value());
        const auto owned = OwnedKey(kind, key);
        if (owned) {
            if (*owned) children[key] = DictOrNull(v);
            continue;
        }
        StringWriter w(out[path]);
        constexpr unsigned kFormat = pugi::format_indent | pugi::format_no_empty_element_tags;
        k.print(w, "\t", kFormat, pugi::encoding_utf8, depth);
        v.print(w, "\t", kFormat, pugi::encoding_utf8, depth);
    }
    for (const auto& [key, child] : children) {
        if (!child) continue;
        const SettingDict childKind = **OwnedKey(kind, key);
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
    CollectForeign(root, SettingDict::Root, "", 1, out);
    return out;
}
