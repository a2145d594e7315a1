#include "osd/osd_core.hpp"

#include <cerrno>
#include <charconv>
#include <cstdio>

#include "protocol/vocabulary.hpp"

namespace {

constexpr OsdPictureEntry kPictures[] = {
    {qz5::kStateProfile1, "Profile1.png", "Profile 1"},
    {qz5::kStateProfile1 + 1, "Profile2.png", "Profile 2"},
    {qz5::kStateProfile3, "Profile3.png", "Profile 3"},
    {qz5::kStateGameOn, "Mode_Game.png", "Game mode on"},
    {qz5::kStateGameOff, "Mode_Normal.png", "Game mode off"},
    {qz5::kStateLight0, "Pulse1.png", "Lighting 1"},
    {qz5::kStateLight0 + 1, "Pulse2.png", "Lighting 2"},
    {qz5::kStateLight0 + 2, "Pulse3.png", "Lighting 3"},
    {qz5::kStateLight0 + 3, "Pulse4.png", "Lighting 4"},
    {qz5::kStateLight4, "Pulse.png", "Lighting pulse"},
    {qz5::kKeyNextTrack, "Multi_Netxtrack.png", "Next track"},
    {qz5::kKeyPreviousTrack, "Multi_Pretrack.png", "Previous track"},
    {qz5::kKeyStop, "Multi_Stop.png", "Stop"},
    {qz5::kKeyPlayPause, "Multi_Pause.png", "Play/Pause"},
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
