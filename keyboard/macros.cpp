// The macro download: the encodings of a profile's 20 programmable keys as
// one data stream sent in blocks, and the index that tells the keyboard where
// each key's encoding lies in it.
#include <algorithm>
#include <cstring>

#include "keyboard/preferences.hpp"
#include "platform/log.hpp"

namespace {

// Key index 0-11: T-keys; 12-19: mapping keys.
const _TKEY_INFO& KeyInfo(const _QZ5_PROFILE& profile, int keyIndex) {
    return keyIndex < kTKeyCount ? profile.TKEYINFO[keyIndex]
                                 : profile.MAPPINGKEYINFO[keyIndex - kTKeyCount];
}

bool HasAction(uint32_t funcId) { return funcId >= 1 && funcId <= 3; }

// Fixed runs of items for the built-in actions 208-224.
struct BuiltIn {
    uint8_t length;
    uint8_t bytes[12];
};
#define CMD(u) {12, {0x84, 0xE3, 0x01, 0x84, u, 0x01, 0x84, u, 0x00, 0x84, 0xE3, 0x00}}
#define TAP(u) {6, {0x84, u, 0x01, 0x84, u, 0x00}}
#define CLICK(m) {6, {0x83, m, 0x00, 0x83, 0x00, 0x00}}
constexpr BuiltIn kBuiltIns[] = {
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
constexpr uint32_t kFirstBuiltIn = 208;
static_assert(std::size(kBuiltIns) == 17);

// Where each key's encoding lies in the stream. A key whose whole encoding
// does not fit in what is left of the stream gets length 0: a macro cut in
// the middle could leave a key held down.
struct MacroLayout {
    uint8_t code[kProgKeyCount];
    uint16_t offset[kProgKeyCount];
    uint16_t length[kProgKeyCount];
    uint32_t total = 0;
};

MacroLayout PlanMacros(Preferences& prefs, int profile, bool logDropped) {
    const _QZ5_PROFILE& prof = m_Config.PROFILE[profile];
    MacroLayout layout{};
    for (int k = 0; k < kProgKeyCount; ++k) {
        const _TKEY_INFO& key = KeyInfo(prof, k);
        layout.code[k] = static_cast<uint8_t>(prefs.GetDeviceFuncID(key.FUNCID));
        if (!HasAction(key.FUNCID)) continue;
        uint32_t length = prefs.GetMacroInfo(static_cast<uint32_t>(k), &key, nullptr);
        if (length > kMacroStreamSize - layout.total) {
            if (logDropped)
                LogLine("profile %d: the action of %s %d (%u bytes) does not fit in the %u bytes "
                        "left of the macro memory; sent empty",
                        profile + 1, k < kTKeyCount ? "T-key" : "mapping key",
                        k < kTKeyCount ? k + 1 : k - kTKeyCount + 1, length,
                        kMacroStreamSize - layout.total);
            length = 0;
        }
        layout.offset[k] = static_cast<uint16_t>(layout.total);
        layout.length[k] = static_cast<uint16_t>(length);
        layout.total += length;
    }
    return layout;
}

void PutU16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 8 & 0xFF);
    at[1] = static_cast<uint8_t>(value & 0xFF);
}

}  // namespace

namespace {

// The encoding of one key's action; usageOf gives the HID usage of a macOS
// key code. The length does not depend on usageOf.
template <typename UsageOf>
uint32_t EncodeAction(uint32_t keyIndex, const _TKEY_INFO* key, uint8_t* out, UsageOf usageOf) {
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

}  // namespace

uint32_t Preferences::GetMacroInfo(uint32_t keyIndex, const _TKEY_INFO* key, uint8_t* out) {
    return EncodeAction(keyIndex, key, out, [this](uint8_t mac) { return MacCodeToUsageCode(mac); });
}

uint32_t ActionLength(uint32_t keyIndex, const _TKEY_INFO& key) {
    return EncodeAction(keyIndex, &key, nullptr, [](uint8_t) { return uint8_t{0}; });
}

uint32_t MacroMemoryUse(const _QZ5_PROFILE& profile) {
    uint32_t total = 0;
    for (int k = 0; k < kProgKeyCount; ++k)
        if (HasAction(KeyInfo(profile, k).FUNCID)) total += ActionLength(static_cast<uint32_t>(k), KeyInfo(profile, k));
    return total;
}

void Preferences::MakeAndSendMacroIndextoDevice(int profile) {
    if (!CheckProfile(profile, "macro index")) return;
    m_Config.PROFILE_ID = static_cast<uint32_t>(profile);
    const MacroLayout layout = PlanMacros(*this, profile, false);
    uint8_t table[200] = {};
    table[0] = kProgKeyCount;
    PutU16(table + 1, kMacroIndexSize);
    PutU16(table + 3, layout.total);
    for (int k = 0; k < kProgKeyCount; ++k) {
        uint8_t* entry = table + 5 + 5 * k;
        entry[0] = layout.code[k];
        PutU16(entry + 1, layout.offset[k]);
        PutU16(entry + 3, layout.length[k]);
    }
    SendMacroIndexTable(profile + 1, table, kMacroIndexSize);
}

void Preferences::SendMacroIndexTable(int deviceProfile, const uint8_t* table, int length) {
    SendCommand(0x10, 0, static_cast<uint16_t>(deviceProfile), table, length);
}

void Preferences::MakeAndSendMacroDataBlocktoDevice(int profile) {
    if (!CheckProfile(profile, "macro data")) return;
    const _QZ5_PROFILE& prof = m_Config.PROFILE[profile];
    const MacroLayout layout = PlanMacros(*this, profile, true);
    static_assert(kMacroStreamSize % kMacroBlockSize == 0);
    uint8_t stream[kMacroStreamSize] = {};
    uint8_t scratch[kMacroStreamSize] = {};
    for (int k = 0; k < kProgKeyCount; ++k) {
        if (layout.length[k] == 0) continue;
        const uint32_t n = GetMacroInfo(static_cast<uint32_t>(k), &KeyInfo(prof, k), scratch);
        std::memcpy(stream + layout.offset[k], scratch, n);
    }
    const int total = static_cast<int>(layout.total);
    const int lastBlock = total / kMacroBlockSize;
    for (int b = 0; b <= lastBlock; ++b) {
        const int offset = b * kMacroBlockSize;
        const int length = b == lastBlock ? total - offset : kMacroBlockSize;
        SendMacroDataBlock(profile + 1, stream, length, offset);
        Pause(static_cast<unsigned>(length / 512 * 500 + 500));
    }
}

void Preferences::SendMacroDataBlock(int deviceProfile, const uint8_t* stream, int blockLength,
                                     int blockOffset) {
    if (blockOffset < 0 || blockOffset > 0xFFFF || blockLength < 0 || blockLength > kMacroBlockSize) {
        LogLine("macro data block at %d of %d bytes refused", blockOffset, blockLength);
        return;
    }
    SendCommand(0x12, static_cast<uint16_t>(blockOffset), static_cast<uint16_t>(deviceProfile),
                stream + blockOffset, blockLength);
}
