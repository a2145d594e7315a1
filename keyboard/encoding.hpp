// The keyboard's key codes, and how a programmable key's action is encoded in
// its macro memory.
// A pure computation of the record: the settings editor measures a profile
// with it without the keyboard's transport.
#pragma once

#include <cstdint>
#include <iterator>

#include "config/qz5_config.hpp"

// The macro memory a profile's actions share.
inline constexpr int kMacroStreamSize = 20480;

// HID keyboard usages against macOS virtual key codes, the keyboard's key table.
struct UsageMacVkRow {
    uint32_t usage;   // HID usage, keyboard page (low byte used)
    uint32_t macVk;   // macOS virtual key code of the same key
};
inline constexpr int kUsageMacVkRows = 105;
extern const UsageMacVkRow UsageID_MacVk[kUsageMacVkRows];

namespace encoding {

// Key index 0-11: T-keys; 12-19: mapping keys.
inline const _TKEY_INFO& KeyInfo(const _QZ5_PROFILE& profile, int keyIndex) {
    return keyIndex < kTKeyCount ? profile.TKEYINFO[keyIndex]
                                 : profile.MAPPINGKEYINFO[keyIndex - kTKeyCount];
}

inline bool HasAction(uint32_t funcId) { return funcId >= 1 && funcId <= 3; }

// Fixed runs of items for the built-in actions 208-224.
struct BuiltIn {
    uint8_t length;
    uint8_t bytes[12];
};
#define CMD(u) {12, {0x84, 0xE3, 0x01, 0x84, u, 0x01, 0x84, u, 0x00, 0x84, 0xE3, 0x00}}
#define TAP(u) {6, {0x84, u, 0x01, 0x84, u, 0x00}}
#define CLICK(m) {6, {0x83, m, 0x00, 0x83, 0x00, 0x00}}
inline constexpr BuiltIn kBuiltIns[] = {
    TAP(0x4B),            // 208 Page Up
    TAP(0x4E),            // 209 Page Down
    CMD(0x06),            // 210 Command-C
    CMD(0x19),            // 211 Command-V
    CMD(0x1D),            // 212 Command-Z
    TAP(0x2A),            // 213 Backspace
    CMD(0x1B),            // 214 Command-X
    CMD(0x04),            // 215 Command-A
    CMD(0x09),            // 216 Command-F
    CMD(0x13),            // 217 Command-P
    CMD(0x16),            // 218 Command-S
    CMD(0x11),            // 219 Command-N
    CLICK(0x01),          // 220 mouse button 1
    CLICK(0x02),          // 221 mouse button 2
    CLICK(0x04),          // 222 mouse button 3
    {3, {0x82, 0x01, 0x00}},  // 223 wheel up
    {3, {0x82, 0xFF, 0x00}},  // 224 wheel down
};
#undef CMD
#undef TAP
#undef CLICK
inline constexpr uint32_t kFirstBuiltIn = 208;
static_assert(std::size(kBuiltIns) == 17);

// The encoding of one key's action; usageOf gives the HID usage of a macOS
// key code. The length does not depend on usageOf.
template <typename UsageOf>
inline uint32_t EncodeAction(uint32_t keyIndex, const _TKEY_INFO* key, uint8_t* out, UsageOf usageOf) {
    uint32_t n = 0;
    auto put = [&](uint8_t b) {
        if (out) out[n] = b;
        ++n;
    };
    switch (key->FUNCID) {
        case 1:
            put(usageOf(static_cast<uint8_t>(key->SINGLE_KEYCODE & 0xFF)));
            return n;
        case 3:
            put(static_cast<uint8_t>(keyIndex + 1));
            put(0xFD);
            return n;
        case 2:
            break;
        default:
            return 0;
    }
    const _MACRO_INFO& macro = key->MACRO;
    const uint32_t steps = std::min<uint32_t>(macro.LENGTH, kMacroStepMax);
    for (uint32_t i = 0; i < steps; ++i) {
        const uint32_t code = macro.KEYMAP[i].KEYCODE;
        const uint32_t flag = macro.KEYMAP[i].KEYFLAG;
        if (code == 255) {  // delay
            put(0x87);
            put(static_cast<uint8_t>(flag >> 8 & 0xFF));
            put(static_cast<uint8_t>(flag & 0xFF));
        } else if (code < kFirstBuiltIn) {  // key press or release
            put(0x84);
            put(usageOf(static_cast<uint8_t>((code - 1) & 0xFF)));
            put(flag == 1 ? 0x01 : 0x00);
        } else if (code < kFirstBuiltIn + std::size(kBuiltIns)) {
            const BuiltIn& b = kBuiltIns[code - kFirstBuiltIn];
            for (int j = 0; j < b.length; ++j) put(b.bytes[j]);
        }  // other codes are skipped
    }
    if (n > 2) {  // end of macro
        put(0x86);
        put(0x00);
        put(0x01);
    }
    return n;
}

}  // namespace encoding

// The length of the encoding of one programmable key's action (key index
// 0-19), as GetMacroInfo measures it, without a Preferences object.
uint32_t ActionLength(uint32_t keyIndex, const _TKEY_INFO& key);
// The bytes of macro memory a profile's 20 actions take when each is sent
// whole; a download sends every action only when this is at most kMacroStreamSize.
uint32_t MacroMemoryUse(const _QZ5_PROFILE& profile);
