#include "osd/osd_core.hpp"

#include <cerrno>
#include <charconv>
#include <cstdio>

namespace {

constexpr OsdPictureEntry kPictures[] = {
    {0xF1, "Profile1.png", "Profile 1"},
    {0xF2, "Profile2.png", "Profile 2"},
    {0xF3, "Profile3.png", "Profile 3"},
    {0xF8, "Mode_Game.png", "Game mode on"},
    {0xF9, "Mode_Normal.png", "Game mode off"},
    {0xFA, "Pulse1.png", "Lighting 1"},
    {0xFB, "Pulse2.png", "Lighting 2"},
    {0xFC, "Pulse3.png", "Lighting 3"},
    {0xFD, "Pulse4.png", "Lighting 4"},
    {0xFE, "Pulse.png", "Lighting pulse"},
    {0xB5, "Multi_Netxtrack.png", "Next track"},
    {0xB6, "Multi_Pretrack.png", "Previous track"},
    {0xB7, "Multi_Stop.png", "Stop"},
    {0xCD, "Multi_Pause.png", "Play/Pause"},
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

const OsdPictureEntry* FindOsdPicture(int code) {
    for (const OsdPictureEntry& e : kPictures)
        if (e.code == code) return &e;
    return nullptr;
}

namespace {
constexpr std::pair<OsdBackend, const char*> kBackendNames[] = {
    {OsdBackend::Auto, "auto"},
    {OsdBackend::LayerShell, "layer-shell"},
    {OsdBackend::X11, "x11"},
    {OsdBackend::Notification, "notification"},
};
}  // namespace

std::optional<OsdBackend> ParseOsdBackend(std::string_view name) {
    for (const auto& [backend, text] : kBackendNames)
        if (name == text) return backend;
    return std::nullopt;
}

const char* OsdBackendName(OsdBackend backend) {
    for (const auto& [b, text] : kBackendNames)
        if (b == backend) return text;
    return "?";
}

std::optional<OsdBackend> ChooseOsdBackend(OsdBackend wanted, const OsdDesktop& desktop) {
    if (wanted != OsdBackend::Auto) return wanted;
    if (desktop.layerShell) return OsdBackend::LayerShell;
    if (desktop.x11) return OsdBackend::X11;
    if (desktop.notifications) return OsdBackend::Notification;
    return std::nullopt;
}
