#include "osd/osd_core.hpp"

#include <cerrno>
#include <charconv>
#include <cstdio>

namespace {

constexpr OsdPictureEntry kPictures[] = {
    {0xF1, "Profile1.png"},       {0xF2, "Profile2.png"},        {0xF3, "Profile3.png"},
    {0xF8, "Mode_Game.png"},      {0xF9, "Mode_Normal.png"},     {0xFA, "Pulse1.png"},
    {0xFB, "Pulse2.png"},         {0xFC, "Pulse3.png"},          {0xFD, "Pulse4.png"},
    {0xFE, "Pulse.png"},          {0xB5, "Multi_Netxtrack.png"}, {0xB6, "Multi_Pretrack.png"},
    {0xB7, "Multi_Stop.png"},     {0xCD, "Multi_Pause.png"},
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

std::span<const OsdPictureEntry> OsdPictureEntries() { return kPictures; }

std::string OsdPictureKey(int code) {
    char key[16];
    std::snprintf(key, sizeof key, "%x", static_cast<unsigned>(code));
    return key;
}

const OsdPictureTable& OsdPictureTableByKey() {
    static const OsdPictureTable table = [] {
        OsdPictureTable t;
        for (const OsdPictureEntry& e : kPictures) t.emplace(OsdPictureKey(e.code), e.name);
        return t;
    }();
    return table;
}

OsdPoint OsdWindowOrigin(int monitorWidth, int monitorHeight) {
    return {static_cast<double>((monitorWidth - kOsdWindowWidth) / 2),
            static_cast<double>(monitorHeight - kOsdBottomMargin - kOsdWindowHeight)};
}

std::optional<int> ParseOsdCodeLine(std::string_view line) {
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    // from_chars takes a '-' itself but no '+', which is what we want.
    int value = 0;
    const char* end = line.data() + line.size();
    const auto [ptr, ec] = std::from_chars(line.data(), end, value, 10);
    if (line.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}
