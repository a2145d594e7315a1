#include "config/utf8.hpp"

size_t Utf8SequenceAt(std::string_view s, size_t i, uint32_t* cp) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    size_t len;
    uint32_t v;
    if (c < 0x80) len = 1, v = c;
    else if ((c & 0xE0) == 0xC0) len = 2, v = c & 0x1Fu;
    else if ((c & 0xF0) == 0xE0) len = 3, v = c & 0x0Fu;
    else if ((c & 0xF8) == 0xF0) len = 4, v = c & 0x07u;
    else return 0;
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        v = v << 6 | (byte(i + k) & 0x3Fu);
    }
    static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < kMin[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    if (cp) *cp = v;
    return len;
}

bool IsUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const size_t len = Utf8SequenceAt(s, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}
