// libFuzzer target: loads arbitrary bytes as the settings file, the way the
// daemon does, and checks what the rest of the daemon relies on:
//   - the record keeps its invariants (profile number 0-2, macro lengths up to
//     5440, both texts of every key NUL-terminated within their field);
//   - a file that cannot be read leaves exactly the factory defaults;
//   - a file that was read survives writing and reading back: the record read
//     back equals the loaded one, except for the characters of the texts that
//     XML cannot carry, which the writer drops.
#include <glib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "config/qz5_config.hpp"
#include "config/xmlconfig.hpp"
#include "tests/support/config_helpers.hpp"

namespace {

[[noreturn]] void Fail(const char* what, size_t offset = 0) {
    std::fprintf(stderr, "fuzz_settings_loader: %s (record offset %zu)\n", what, offset);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

// A scratch file in memory, so that nothing is left behind however the
// fuzzer ends; the loader opens it by its /proc/self/fd path.
struct ScratchFile {
    int fd = ::memfd_create("qz5fuzz", 0);
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    void Write(const void* data, size_t size) {
        Check(fd >= 0 && ::ftruncate(fd, 0) == 0 && ::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size),
              "cannot write the temporary file");
    }
};

// The text as it comes back from the file: only the characters XML 1.0 can
// hold (its Char production), decoded by GLib, independently of the writer.
void KeepXmlChars(char (&text)[kTextSize]) {
    std::string kept;
    for (const char *p = text, *end = text + std::strlen(text); p < end;) {
        const gunichar c = g_utf8_get_char_validated(p, end - p);
        const size_t len = c < 0x110000 ? g_utf8_skip[static_cast<unsigned char>(*p)] : 1;
        if (c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
            (c >= 0x10000 && c < 0x110000))
            kept.append(p, len);
        p += len;
    }
    std::memset(text, 0, kTextSize);
    std::memcpy(text, kept.data(), kept.size());
}

template <typename Fn>
void ForEachKey(_QZ5_CONFIG& rec, Fn&& fn) {
    for (auto& p : rec.PROFILE) {
        for (auto& k : p.TKEYINFO) fn(k);
        for (auto& k : p.MAPPINGKEYINFO) fn(k);
    }
}

void CheckInvariants(_QZ5_CONFIG& rec) {
    Check(rec.PROFILE_ID < static_cast<uint32_t>(kProfileCount), "PROFILE_ID above 2");
    ForEachKey(rec, [](const _TKEY_INFO& k) {
        Check(std::memchr(k.LAUNCHPATH, 0, kTextSize) != nullptr, "LAUNCHPATH without a NUL");
        Check(std::memchr(k.MACRO.MACRONAME, 0, kTextSize) != nullptr, "MACRONAME without a NUL");
        Check(k.MACRO.LENGTH <= static_cast<uint32_t>(kMacroStepMax), "LENGTH above 5440");
    });
}

void CheckSame(const _QZ5_CONFIG& a, const _QZ5_CONFIG& b, const char* what) {
    if (!SameRecord(a, b)) Fail(what, FirstDifference(a, b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchFile input, output;
    static const auto defaults = DefaultRecord();
    static const auto reread = ZeroRecord(), expected = ZeroRecord();
    input.Write(data, size);

    // As at start: the record is all zero before the load.
    std::memset(&m_Config, 0, sizeof m_Config);
    const bool loaded = LoadFile(input.path);
    CheckInvariants(m_Config);
    if (!loaded) {
        CheckSame(m_Config, *defaults, "an unreadable file did not give the factory defaults");
        return 0;
    }

    // Round trip. Steps beyond each LENGTH are neither written nor read; they
    // are zero on both sides (the load started from zero).
    const std::string xml = SettingsXml(m_Config);
    output.Write(xml.data(), xml.size());
    std::memset(reread.get(), 0, sizeof(_QZ5_CONFIG));
    Check(xmlconfig().ReadFileInto(output.path, *reread), "the written file cannot be read back");
    CheckInvariants(*reread);

    std::memcpy(expected.get(), &m_Config, sizeof(_QZ5_CONFIG));
    ForEachKey(*expected, [](_TKEY_INFO& k) {
        KeepXmlChars(k.LAUNCHPATH);
        KeepXmlChars(k.MACRO.MACRONAME);
    });
    CheckSame(*reread, *expected, "the record read back differs from the one written");
    return 0;
}
