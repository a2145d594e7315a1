// Helpers for tests of the configuration store.
#pragma once

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include "config/qz5_config.hpp"
#include "config/xmlconfig.hpp"

inline std::unique_ptr<_QZ5_CONFIG> ZeroRecord() {
    auto rec = std::make_unique<_QZ5_CONFIG>();
    std::memset(rec.get(), 0, sizeof *rec);
    return rec;
}

inline std::unique_ptr<_QZ5_CONFIG> DefaultRecord() {
    auto rec = ZeroRecord();
    InitialConfigInto(*rec);
    return rec;
}

inline bool SameRecord(const _QZ5_CONFIG& a, const _QZ5_CONFIG& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Offset of the first byte where two records differ, for failure messages.
inline size_t FirstDifference(const _QZ5_CONFIG& a, const _QZ5_CONFIG& b) {
    const auto* pa = reinterpret_cast<const unsigned char*>(&a);
    return std::mismatch(pa, pa + sizeof a, reinterpret_cast<const unsigned char*>(&b)).first - pa;
}

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A property list whose root dictionary holds body.
inline std::string Plist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + body +
           "</dict>\n</plist>\n";
}

// Loads path into m_Config through a fresh reader, as the daemon does.
inline bool LoadFile(const std::string& path) {
    xmlconfig reader;
    xmlconfig::setConfigfileName(path);
    return reader.LoadConfigFile();
}

// Random valid UTF-8 of up to max bytes: markup and quoting characters,
// multi-byte characters and, with controls, the tabs and line breaks a
// settings file carries.
inline std::string RandomText(std::mt19937& rng, size_t max, bool controls = true) {
    static const char* pieces[] = {"a", "Z", " ", "&", "<", ">", "]]>", "\"", "'", "\\", "#", "/Applications/",
                                   "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x8E\xB9", "\t", "\n", "\r"};
    std::string s;
    for (const size_t want = rng() % (max + 1);;) {
        const char* p = pieces[rng() % (std::size(pieces) - (controls ? 0 : 3))];
        if (s.size() + std::strlen(p) > want) return s;
        s += p;
    }
}

inline void SetText(char (&field)[kTextSize], const std::string& text) {
    std::memset(field, 0, kTextSize);
    std::memcpy(field, text.data(), text.size());
}
