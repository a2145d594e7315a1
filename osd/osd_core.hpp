// What the on-screen display knows without a window system: which picture a
// code shows, where the window goes on a monitor, and how a code line reads.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

struct OsdPoint {
    double x = 0;
    double y = 0;
    bool operator==(const OsdPoint&) const = default;
};

// Screen rectangles use the X11 convention: origin at the top left, y grows down.
struct OsdRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

inline constexpr int kOsdWindowWidth = 200;
inline constexpr int kOsdWindowHeight = 130;
// Distance from the window's bottom edge to the bottom of the primary monitor.
inline constexpr int kOsdBottomMargin = 100;
// showImgTag when no code has been shown yet.
inline constexpr int kOsdNoImage = -1;

struct OsdPictureEntry {
    int code;
    const char* name;     // file name in the compiled resources
    const char* caption;  // what it says in words (a notification's title)
};

// Every code that has a picture; other codes show nothing.
std::span<const OsdPictureEntry> OsdPictureEntries();
// The entry of code; nullptr for a code without a picture.
const OsdPictureEntry* FindOsdPicture(int code);

// The table the view looks pictures up in: key is the code as lowercase hex
// without prefix ("f1"), value the picture's file name.
using OsdPictureTable = std::map<std::string, std::string>;
const OsdPictureTable& OsdPictureTableByKey();
std::string OsdPictureKey(int code);

// Where pictures live in the compiled resources.
inline constexpr std::string_view kOsdResourcePrefix = "/org/qz5/osd/";

// Top-left corner of the window on a monitor of the given size: centred
// horizontally, its bottom edge kOsdBottomMargin above the monitor's bottom.
// The monitor's own origin is deliberately not added.
OsdPoint OsdWindowOrigin(int monitorWidth, int monitorHeight);

// One line of input: a decimal integer with an optional leading '-' and
// blanks around it; nullopt for anything else (including out of int range).
std::optional<int> ParseOsdCodeLine(std::string_view line);

// How the display shows itself: an overlay surface of the Wayland
// compositor (wlr-layer-shell), an X11 window (also under XWayland), or a
// desktop notification.
enum class OsdBackend { Auto, LayerShell, X11, Notification };
// "auto", "layer-shell", "x11", "notification".
std::optional<OsdBackend> ParseOsdBackend(std::string_view name);
const char* OsdBackendName(OsdBackend backend);

// What the session offers.
struct OsdDesktop {
    bool layerShell = false;     // a Wayland compositor with layer-shell
    bool x11 = false;            // an X display (a server of its own, or XWayland)
    bool notifications = false;  // a notification server on the session bus
};
// A forced backend as it is; otherwise the first the desktop offers in the
// order layer-shell, X11, notification; nullopt when it offers none.
std::optional<OsdBackend> ChooseOsdBackend(OsdBackend wanted, const OsdDesktop& desktop);
