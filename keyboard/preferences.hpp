// Preferences: the daemon's one object for the user's settings and the
// keyboard. It carries no state of its own; what its methods work on lives at
// file scope beside it (the record m_Config, the settings reader, the USB bus
// and the keyboard's request queue).
//
// What goes to the keyboard is queued (keyboard/request_queue.hpp): the
// Send... and MakeAndSend... methods build their tables from the record at
// once and queue the requests with their pauses; they return before anything
// is sent. SendDeviceRequest, GetDevProfile and GetDevLightLevel transfer at
// once, for steps of the queue.
//
// Profiles: "profile" is the record's index 0-2; "device profile" is the
// number the keyboard uses, profile + 1. A download given a profile outside
// 0-2 sends nothing and logs a line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

#include "config/qz5_config.hpp"
#include "config/xmlconfig.hpp"
#include "keyboard/encoding.hpp"
#include "keyboard/request_queue.hpp"
#include "platform/usb.hpp"

class Preferences {
public:
    Preferences();
    virtual ~Preferences();
    Preferences(const Preferences&) = delete;
    Preferences& operator=(const Preferences&) = delete;

    // Reloads the settings file into m_Config (factory defaults when it cannot be read).
    void RefreshSetting();

    // The keyboard's function code of a FUNCID.
    uint32_t GetDeviceFuncID(uint32_t funcId);

    // --- Transport (transport.cpp) ---
    // Sends the request to every attached keyboard, each opened and closed
    // around it. Returns 0; failures are printed to the diagnostics stream.
    int SendDeviceRequest(IOUSBDevRequest* request);
    // The keyboard's light level and current profile byte; 0 when nothing was read.
    int GetDevLightLevel();
    int GetDevProfile();

    // --- Device commands (commands.cpp); each queues its request and 500 ms after it ---
    void ResetDevice();
    void SendWorkMode(int mode);  // qz5::kWorkModeNormal or kWorkModeGame
    void SendSaveToDevice();
    void SendProfileid(int profileNumber);  // 1-3
    void SendAltermateProfile(uint8_t nextUsage, uint8_t previousUsage);
    void SendAltermateProfilePro(int profile);
    uint8_t getAlterKeyCode(int selector);  // 0 none, 1 Alt, 2 Control, 3 Shift
    void SendLight(uint8_t valueLow, uint8_t valueHigh, uint8_t index);
    void SetLightStatus(int zone, int on, int style);
    void MakeAndSendLightToDevice();  // the four zones, 200 ms more after each
    void SendKBMode();                // work mode from GAME_MODE

    // --- Key matrix (key_matrix.cpp) ---
    // HID usage of a macOS virtual key code; 0 when it has none.
    uint8_t MacCodeToUsageCode(uint8_t macCode);
    // Matrix position (0-143) of the key with this macOS code; 255 when none.
    int GetMatrixKeyPos(int macCode);
    void MakeAndSendMatrixtoDevice(int profile);
    void SendMatrixTable(int deviceProfile, const uint8_t* table, int length);

    // --- Macros (macros.cpp) ---
    // Encodes the action of one programmable key (key index 0-19) into out and
    // returns its length; with out null it only measures. out must hold the
    // measured length.
    uint32_t GetMacroInfo(uint32_t keyIndex, const _TKEY_INFO* key, uint8_t* out);
    void MakeAndSendMacroIndextoDevice(int profile);  // also sets PROFILE_ID
    void SendMacroIndexTable(int deviceProfile, const uint8_t* table, int length);
    void MakeAndSendMacroDataBlocktoDevice(int profile);
    void SendMacroDataBlock(int deviceProfile, const uint8_t* stream, int blockLength,
                            int blockOffset);

    // --- Key mapping (key_mapping.cpp) ---
    void MakeAndSendMappingKeytoDevice(int profile);
    void SendMacroKeyMappingTable(int deviceProfile, const uint8_t* table, int length);

    // --- Full download of one profile (full_download.cpp) ---
    // Pause 500 ms, key matrix, macro index, macro data, key mapping, the four
    // light zones, work mode, alternate-profile modifiers, and save when asked.
    void SendFullDownload(int profile, bool save);

    // --- On-screen display (osd_controller.cpp) ---
    // Shows the picture of an OSD code for three seconds (a code without a
    // picture shows nothing visible for as long).
    void ShowMsgFrm(int code);

    // --- The keyboard's own messages (dispatch.cpp) ---
    // type: the message type (4 or 8); data: its eight bytes.
    void DealwithMessage(int type, unsigned char* data);
    // Opens the launch path of key number 1-20 (T1-T12, then M1-M8) of the
    // current profile; other numbers name no key and do nothing.
    void OpenLaunchPro(int keyNumber);

    // --- Relays to the settings application (relays.cpp) ---
    void PostLightModeChangeNotification(int mode);   // 0-4
    void PostGameModeChangeNotification(int on);      // 1 on, 0 off
    // Also makes profile the record's current profile (in memory only).
    void PostProfileChangeNotification(int profile);  // 0-2

private:
    // Queues one host-to-device vendor request (the payload copied, sent from
    // a zero-filled staging buffer) and the 500 ms pause after it.
    void SendCommand(uint8_t bRequest, uint16_t wValue, uint16_t wIndex, const uint8_t* payload,
                     int length);
};

// The settings reader and writer, created with Preferences and released with it.
extern xmlconfig* m_pXMLconfig;

// The USB bus every request goes to; nullptr restores the libusb bus.
void SetUsbBus(UsbBus* bus);
UsbBus& CurrentUsbBus();
// The keyboard's request queue and the timer it waits on. nullptr gives it a
// SteppingScheduler of its own, which runs only when told to (tools).
void SetKeyboardScheduler(Scheduler* scheduler);
RequestQueue& KeyboardQueue();
// Queues a pause of the keyboard protocol. Pauses pace a keyboard: those
// after a request that found no keyboard to open are skipped.
void Pause(unsigned usec);
// Counts of the requests SendDeviceRequest made since the start: all of them,
// those that failed at a keyboard (its open or its transfer), those that found
// no keyboard at all.
struct RequestTally {
    int requests = 0, failed = 0, missed = 0;
};
const RequestTally& KeyboardTally();
RequestTally operator-(const RequestTally& a, const RequestTally& b);
// Where the transport prints its diagnostics (default standard output);
// nullptr discards them.
void SetRequestDiagnostics(std::FILE* stream);

// The keyboard's tables.
inline constexpr int kMatrixPositions = 144;
extern const uint8_t DefaultMatrix_UsageID[kMatrixPositions];

// Sizes of what goes to the keyboard.
inline constexpr int kStagingSize = 8000;
inline constexpr int kMatrixTableSize = 160;
inline constexpr int kMacroIndexSize = 105;
inline constexpr int kMacroBlockSize = 4096;
inline constexpr int kMappingTableSize = 63;
inline constexpr unsigned kCommandPauseUs = 500000;


// Whether row k of StdKeyInfo describes a key (rows 102-159 describe none).
bool StdRowHasKey(int row);
// The matrix position of the key a mapping key is placed on, given its
// MAPKEY_KEYCODE (the key's macOS code + 1); 255 when it is placed on no key
// of the layout that has a position.
int MappingKeyPosition(Preferences& prefs, uint32_t mapKeyCode);
// Whether profile is a record index 0-2; logs a line naming what when it is not.
bool CheckProfile(int profile, const char* what);
