// The configuration record: one flat, fixed-size block that holds everything
// the daemon knows about the user's settings. Field names are the settings
// file's keys. Only unsigned 32-bit integers, arrays of them and fixed
// character arrays: the record can be copied wholesale.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kProfileCount = 3;
inline constexpr int kKeySlotCount = 160;
inline constexpr int kTKeyCount = 12;
inline constexpr int kMappingKeyCount = 8;
inline constexpr int kProgKeyCount = kTKeyCount + kMappingKeyCount;  // key index 0-19
inline constexpr int kMacroStepMax = 5440;
inline constexpr int kTextSize = 256;  // 255 bytes of UTF-8 text and a NUL

struct _KEYMAP_INFO {
    uint32_t KEYCODE;  // macOS virtual key code + 1, 255 delay, 208-224 built-in action
    uint32_t KEYFLAG;  // 1 press, other release; the delay for a delay step
};

struct _MACRO_INFO {
    char MACRONAME[kTextSize];
    uint32_t LENGTH;  // steps in use, 0-5440
    uint32_t REPEAT_OPTION;
    uint32_t REPEAT_TIMES;
    _KEYMAP_INFO KEYMAP[kMacroStepMax];
};

struct _TKEY_INFO {
    uint32_t FUNCID;  // 0 none, 1 single key, 2 macro, 3 launch
    char LAUNCHPATH[kTextSize];
    uint32_t SINGLE_KEYCODE;  // macOS virtual key code, not offset
    uint32_t MAPKEY_KEYCODE;  // carrying key's macOS virtual key code + 1, 0 none
    _MACRO_INFO MACRO;
};

struct _INSTANT_SHIFT {
    uint32_t PREKEY;   // 0 none, 1 Alt, 2 Control, 3 Shift
    uint32_t NEXTKEY;
};

struct _QZ5_PROFILE {
    uint32_t KEY[kKeySlotCount];  // 0 default, v: produces macOS key v - 1
    _TKEY_INFO TKEYINFO[kTKeyCount];
    _TKEY_INFO MAPPINGKEYINFO[kMappingKeyCount];
    _INSTANT_SHIFT INSTANT_SHIFT;
};

struct _QZ5_LIGHT {
    uint32_t LIGHT_STYLE;
    uint32_t WASDLIGHT;
    uint32_t DIRECTLIGHT;
    uint32_t NUMBERLIGHT;
    uint32_t PELLFLAGLIGHT;
};

struct _QZ5_CONFIG {
    uint32_t PROFILE_ID;  // 0-2
    uint32_t GAME_MODE;
    _QZ5_LIGHT LIGHT_OPTION;
    _QZ5_PROFILE PROFILE[kProfileCount];
};

// The layout is the contract: flat, no padding, fields in this order.
static_assert(sizeof(_KEYMAP_INFO) == 8);
static_assert(offsetof(_MACRO_INFO, LENGTH) == 256);
static_assert(offsetof(_MACRO_INFO, KEYMAP) == 268);
static_assert(sizeof(_MACRO_INFO) == 268 + 8 * kMacroStepMax);
static_assert(offsetof(_TKEY_INFO, LAUNCHPATH) == 4);
static_assert(offsetof(_TKEY_INFO, SINGLE_KEYCODE) == 260);
static_assert(offsetof(_TKEY_INFO, MAPKEY_KEYCODE) == 264);
static_assert(offsetof(_TKEY_INFO, MACRO) == 268);
static_assert(sizeof(_TKEY_INFO) == 268 + sizeof(_MACRO_INFO));
static_assert(sizeof(_INSTANT_SHIFT) == 8);
static_assert(offsetof(_QZ5_PROFILE, TKEYINFO) == 4 * kKeySlotCount);
static_assert(offsetof(_QZ5_PROFILE, MAPPINGKEYINFO) ==
              4 * kKeySlotCount + kTKeyCount * sizeof(_TKEY_INFO));
static_assert(offsetof(_QZ5_PROFILE, INSTANT_SHIFT) ==
              4 * kKeySlotCount + kProgKeyCount * sizeof(_TKEY_INFO));
static_assert(sizeof(_QZ5_PROFILE) == offsetof(_QZ5_PROFILE, INSTANT_SHIFT) + 8);
static_assert(sizeof(_QZ5_LIGHT) == 20);
static_assert(offsetof(_QZ5_CONFIG, LIGHT_OPTION) == 8);
static_assert(offsetof(_QZ5_CONFIG, PROFILE) == 28);
static_assert(sizeof(_QZ5_CONFIG) == 28 + kProfileCount * sizeof(_QZ5_PROFILE));

// The one record of the process; all zero at start.
extern _QZ5_CONFIG m_Config;

// One row of the built-in key table: the key's rectangle in a picture of the
// keyboard (x, y, width, height; y grows upwards) and its macOS virtual key code.
struct StdKeyRow {
    float rect[4];
    uint32_t vkey;
};

// Key slot k of every profile is the physical key of row k. Rows 102-159
// describe no key and are all zero.
extern const StdKeyRow StdKeyInfo[kKeySlotCount];
inline constexpr int kStdKeyRowsInUse = 102;
