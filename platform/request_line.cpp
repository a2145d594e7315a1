#include "platform/request_line.hpp"

std::string FormatRequestLine(const uint8_t setup[8], const uint8_t* data) {
    static constexpr char kHex[] = "0123456789abcdef";
    const size_t wLength = static_cast<size_t>(setup[6]) | static_cast<size_t>(setup[7]) << 8;
    const bool hostToDevice = (setup[0] & 0x80) == 0;
    std::string line;
    line.reserve(24 + (hostToDevice ? 3 + 2 * wLength : 0));
    for (int i = 0; i < 8; ++i) {
        if (i) line += ' ';
        line += kHex[setup[i] >> 4];
        line += kHex[setup[i] & 15];
    }
    if (hostToDevice && wLength > 0 && data != nullptr) {
        line += " : ";
        for (size_t i = 0; i < wLength; ++i) {
            line += kHex[data[i] >> 4];
            line += kHex[data[i] & 15];
        }
    }
    return line;
}
