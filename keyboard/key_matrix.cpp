// The key matrix: which HID usage each position of the keyboard's key-switch
// matrix produces, rebuilt from a profile's key assignments.
#include <cstring>

#include "keyboard/preferences.hpp"
#include "protocol/vocabulary.hpp"

// The usage each matrix position produces by default.
const uint8_t DefaultMatrix_UsageID[kMatrixPositions] = {
    0x1D, 0x1E, 0xCC, 0xB0, 0xE6, 0xB3, 0xCD, 0xED, 0x06, 0x20, 0xCE, 0xB4, 0xB5, 0xCF, 0xE4, 0xD0,
    0x09, 0x3A, 0x3E, 0xD1, 0xE2, 0xD2, 0xD3, 0xD4, 0x28, 0x3B, 0x3F, 0xD5, 0xD6, 0xE1, 0xD7, 0x00,
    0x29, 0x0E, 0x13, 0xF1, 0xF2, 0xF3, 0xE0, 0xB7, 0x2C, 0x21, 0x87, 0xE3, 0xB4, 0x8B, 0x8A, 0x88,
    0x04, 0x3D, 0x12, 0xC6, 0xC9, 0x91, 0x90, 0xE7, 0x2B, 0x35, 0x40, 0x1C, 0x4D, 0x24, 0x33, 0x53,
    0x16, 0x2D, 0x41, 0x18, 0x2F, 0x25, 0x49, 0x11, 0x07, 0x2E, 0x42, 0x0C, 0x30, 0x26, 0x34, 0x64,
    0x1A, 0x2A, 0x44, 0x46, 0x4A, 0x4C, 0x0B, 0x37, 0x08, 0x0F, 0x45, 0x47, 0x48, 0x4B, 0x32, 0x38,
    0x14, 0x0D, 0x43, 0x89, 0x31, 0x27, 0x4E, 0x36, 0x65, 0x0A, 0x52, 0x05, 0x5F, 0x5C, 0x59, 0x39,
    0x19, 0x22, 0x54, 0x50, 0x60, 0x5D, 0x5A, 0x62, 0x15, 0x23, 0x55, 0x61, 0x51, 0x5E, 0x5B, 0x63,
    0x17, 0x3C, 0x56, 0x57, 0x85, 0x4F, 0x58, 0x10, 0x1B, 0x1F, 0xEC, 0xB1, 0xEB, 0xE5, 0xB6, 0xB2,
};

bool StdRowHasKey(int row) {
    const StdKeyRow& r = StdKeyInfo[row];
    return r.vkey != 0 || r.rect[2] != 0.f || r.rect[3] != 0.f;
}

int MappingKeyPosition(Preferences& prefs, uint32_t mapKeyCode) {
    if (mapKeyCode == 0) return 255;
    for (int slot = 0; slot < kKeySlotCount; ++slot)
        if (StdRowHasKey(slot) && StdKeyInfo[slot].vkey + 1 == mapKeyCode)
            return prefs.GetMatrixKeyPos(static_cast<int>(StdKeyInfo[slot].vkey));
    return 255;
}

uint8_t Preferences::MacCodeToUsageCode(uint8_t macCode) {
    for (const auto& row : UsageID_MacVk)
        if (row.macVk == macCode) return static_cast<uint8_t>(row.usage & 0xFF);
    return 0;
}

int Preferences::GetMatrixKeyPos(int macCode) {
    const uint8_t usage = MacCodeToUsageCode(static_cast<uint8_t>(macCode & 0xFF));
    for (int p = 0; p < kMatrixPositions; ++p)
        if (DefaultMatrix_UsageID[p] == usage) return p;
    return 255;
}

void Preferences::MakeAndSendMatrixtoDevice(int profile) {
    if (!CheckProfile(profile, "key matrix")) return;
    const _QZ5_PROFILE& prof = m_Config.PROFILE[profile];
    uint8_t table[kMatrixTableSize] = {};
    std::memcpy(table, DefaultMatrix_UsageID, sizeof DefaultMatrix_UsageID);

    // Remapped keys. Slots whose row describes no key are skipped: their
    // code 0 would otherwise land on the A key's position.
    for (int slot = 0; slot < kKeySlotCount; ++slot) {
        const uint32_t v = prof.KEY[slot];
        if (v == 0 || !StdRowHasKey(slot)) continue;
        const int p = GetMatrixKeyPos(static_cast<int>(StdKeyInfo[slot].vkey));
        if (p != 255) table[p] = MacCodeToUsageCode(static_cast<uint8_t>(v - 1));
    }
    // Mapping keys win over remaps of the same key.
    for (int j = 0; j < kMappingKeyCount; ++j) {
        const int p = MappingKeyPosition(*this, prof.MAPPINGKEYINFO[j].MAPKEY_KEYCODE);
        if (p != 255) table[p] = static_cast<uint8_t>(0xD8 + j);
    }
    SendMatrixTable(profile + 1, table, kMatrixTableSize);
}

void Preferences::SendMatrixTable(int deviceProfile, const uint8_t* table, int length) {
    SendCommand(qz5::kReqMatrix, 0, static_cast<uint16_t>(deviceProfile), table, length);
}
