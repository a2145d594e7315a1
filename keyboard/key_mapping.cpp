// The macro key-mapping table: a key id and a repeat mode for each of the 20
// programmable keys.
#include "keyboard/preferences.hpp"
#include "protocol/vocabulary.hpp"

namespace {

uint8_t RepeatMode(uint32_t repeatOption) {
    return repeatOption == 2 || repeatOption == 3 ? static_cast<uint8_t>(repeatOption) : 0x01;
}

}  // namespace

void Preferences::MakeAndSendMappingKeytoDevice(int profile) {
    if (!CheckProfile(profile, "key mapping")) return;
    const _QZ5_PROFILE& prof = m_Config.PROFILE[profile];
    uint8_t table[100] = {};
    table[0] = kProgKeyCount;
    for (int i = 0; i < kTKeyCount; ++i) {
        table[1 + 2 * i] = static_cast<uint8_t>(i);
        table[2 + 2 * i] = RepeatMode(prof.TKEYINFO[i].MACRO.REPEAT_OPTION);
    }
    for (int j = 0; j < kMappingKeyCount; ++j) {
        const _TKEY_INFO& key = prof.MAPPINGKEYINFO[j];
        if (MappingKeyPosition(*this, key.MAPKEY_KEYCODE) != 255) table[25 + 2 * j] = static_cast<uint8_t>(0xD8 + j);
        table[26 + 2 * j] = RepeatMode(key.MACRO.REPEAT_OPTION);
    }
    SendMacroKeyMappingTable(profile + 1, table, kMappingTableSize);
}

void Preferences::SendMacroKeyMappingTable(int deviceProfile, const uint8_t* table, int length) {
    SendCommand(qz5::kReqKeyMapping, 0, static_cast<uint16_t>(deviceProfile), table, length);
}
