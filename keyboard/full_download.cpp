// The full download of one profile after the settings application saved a change.
#include "keyboard/preferences.hpp"

void Preferences::SendFullDownload(int profile, bool save) {
    if (!CheckProfile(profile, "full download")) return;
    Pause(kCommandPauseUs);
    MakeAndSendMatrixtoDevice(profile);
    MakeAndSendMacroIndextoDevice(profile);
    MakeAndSendMacroDataBlocktoDevice(profile);
    MakeAndSendMappingKeytoDevice(profile);
    MakeAndSendLightToDevice();
    SendKBMode();
    SendAltermateProfilePro(profile);
    if (save) SendSaveToDevice();
}
