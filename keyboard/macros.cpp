// The macro download: the encodings of a profile's 20 programmable keys as
// one data stream sent in blocks, and the index that tells the keyboard where
// each key's encoding lies in it.
#include <algorithm>
#include <cstring>

#include "keyboard/encoding.hpp"
#include "keyboard/preferences.hpp"
#include "platform/log.hpp"
#include "protocol/vocabulary.hpp"

using namespace encoding;

namespace {

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

uint32_t Preferences::GetMacroInfo(uint32_t keyIndex, const _TKEY_INFO* key, uint8_t* out) {
    return EncodeAction(keyIndex, key, out, [this](uint8_t mac) { return MacCodeToUsageCode(mac); });
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
    SendCommand(qz5::kReqMacroIndex, 0, static_cast<uint16_t>(deviceProfile), table, length);
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
    SendCommand(qz5::kReqMacroData, static_cast<uint16_t>(blockOffset), static_cast<uint16_t>(deviceProfile),
                stream + blockOffset, blockLength);
}
