// Device commands: short requests without data stage that set the keyboard's
// state, and the two that derive theirs from the record.
#include "keyboard/preferences.hpp"
#include "protocol/vocabulary.hpp"

void Preferences::ResetDevice() { SendCommand(qz5::kReqReset, 0, 0, nullptr, 0); }

void Preferences::SendWorkMode(int mode) {
    SendCommand(qz5::kReqWorkMode, static_cast<uint16_t>(mode), 0, nullptr, 0);
}

void Preferences::SendSaveToDevice() { SendCommand(qz5::kReqSave, 0, 0, nullptr, 0); }

void Preferences::SendProfileid(int profileNumber) {
    SendCommand(qz5::kReqSelectProfile, static_cast<uint16_t>(profileNumber), 0, nullptr, 0);
}

void Preferences::SendAltermateProfile(uint8_t nextUsage, uint8_t previousUsage) {
    SendCommand(qz5::kReqInstantShift, static_cast<uint16_t>(nextUsage | previousUsage << 8), 0, nullptr, 0);
}

uint8_t Preferences::getAlterKeyCode(int selector) {
    switch (selector) {
        case 1: return 0xE2;  // left Alt
        case 2: return 0xE0;  // left Control
        case 3: return 0xE1;  // left Shift
        default: return 0x00;
    }
}

void Preferences::SendAltermateProfilePro(int profile) {
    if (!CheckProfile(profile, "alternate-profile modifiers")) return;
    const _INSTANT_SHIFT& shift = m_Config.PROFILE[profile].INSTANT_SHIFT;
    SendAltermateProfile(getAlterKeyCode(static_cast<int>(shift.NEXTKEY)),
                         getAlterKeyCode(static_cast<int>(shift.PREKEY)));
}

void Preferences::SendLight(uint8_t valueLow, uint8_t valueHigh, uint8_t index) {
    SendCommand(qz5::kReqLight, static_cast<uint16_t>(valueLow | valueHigh << 8), index, nullptr, 0);
}

void Preferences::SetLightStatus(int zone, int on, int style) {
    int low = style >= 0 && style <= 4 ? style : 3;
    int high = style == 4 ? 1 : 0;
    int index = zone;
    if (on == 0) {
        index = zone + 0x80;
        low = 0;
    }
    if (zone == 3) {  // the flag lamp has no styles
        low = on ? 4 : 0;
        high = on ? 1 : 0;
    }
    SendLight(static_cast<uint8_t>(low), static_cast<uint8_t>(high), static_cast<uint8_t>(index));
}

void Preferences::MakeAndSendLightToDevice() {
    const _QZ5_LIGHT& light = m_Config.LIGHT_OPTION;
    const uint32_t zones[4] = {light.WASDLIGHT, light.DIRECTLIGHT, light.NUMBERLIGHT,
                               light.PELLFLAGLIGHT};
    for (int zone = 0; zone < 4; ++zone) {
        SetLightStatus(zone, zones[zone] != 0 ? 1 : 0, static_cast<int>(light.LIGHT_STYLE));
        Pause(200000);
    }
}

void Preferences::SendKBMode() {
    SendWorkMode(m_Config.GAME_MODE != 0 ? qz5::kWorkModeGame : qz5::kWorkModeNormal);
}
