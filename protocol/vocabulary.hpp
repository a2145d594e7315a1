// The words the daemon, the settings application (and qz5ctl) and the
// keyboard exchange: the notifications on the session bus (names, objects,
// userInfo keys, the change types), the keyboard's input reports (types
// and codes) and the control requests sent to it. Everything that speaks the
// protocol takes its words from here; docs/protocol.md describes them for
// people.
#pragma once

#include <cstdint>

namespace qz5 {

// ---- Notifications: a name, an object and a userInfo dictionary ----

// Between the settings application and the daemon, both ways.
inline constexpr char kNameSettings[] = "PellQZ5";
// The status question and its reply.
inline constexpr char kNameCheck[] = "PellQZ5Check";

// To the daemon.
inline constexpr char kSettingChange[] = "QZ5SettingChange";  // kNameSettings; a change type and its keys
inline constexpr char kGetDeviceStatue[] = "GetDeviceStatue";  // kNameCheck; no keys
// From the daemon.
inline constexpr char kRecDeviceStatue[] = "RecDeviceStatue";  // kNameCheck: IsHaved, ProfileNumber, LightLev
inline constexpr char kSettingApplied[] = "QZ5SettingApplied";  // kNameSettings: a change carried out
inline constexpr char kLightModeChange[] = "QZ5LightModeChange";  // kNameSettings: QZ5LightModeNumber
inline constexpr char kGameModeChange[] = "QZ5GameModeChange";  // kNameSettings: QZ5GameModeNumber
inline constexpr char kProfileChange[] = "QZ5ProfileChange";  // kNameSettings: ProfileNumber

// userInfo keys.
inline constexpr char kKeyChangeType[] = "QZ5SettingChangeType";
inline constexpr char kKeyProfileNumber[] = "ProfileNumber";  // 0-2
inline constexpr char kKeyIsSave[] = "isSave";
inline constexpr char kKeyGameMode[] = "QZ5GameModeChange";  // of ChangeType::GameMode: 1 on, 0 off
inline constexpr char kKeyOsdType[] = "OsdType";
inline constexpr char kKeyChangeId[] = "ChangeId";  // echoed in kSettingApplied when not 0
inline constexpr char kKeyIsHaved[] = "IsHaved";    // a keyboard is there: 1, else 0
inline constexpr char kKeyLightLev[] = "LightLev";
inline constexpr char kKeyLightModeNumber[] = "QZ5LightModeNumber";
inline constexpr char kKeyGameModeNumber[] = "QZ5GameModeNumber";
inline constexpr char kKeyRequestCount[] = "RequestCount";
inline constexpr char kKeyFailedCount[] = "FailedCount";
inline constexpr char kKeyMissedCount[] = "MissedCount";
inline constexpr char kKeyMilliseconds[] = "Milliseconds";

// The changes kSettingChange asks for, by kKeyChangeType.
enum class ChangeType : int {
    FullDownload = 1,   // send profile ProfileNumber in full, isSave: and save it there
    SelectProfile = 2,  // make ProfileNumber the keyboard's current profile
    Lighting = 3,       // send the lighting
    GameMode = 4,       // kKeyGameMode on or off
    Save = 5,           // the keyboard saves what it holds
    Osd = 6,            // show OsdType's picture; needs no keyboard
};
inline constexpr int kFirstChangeType = 1;
inline constexpr int kLastChangeType = 6;

// What the daemon posts by itself, which a monitor listens for.
struct Post {
    const char* name;
    const char* object;
};
inline constexpr Post kDaemonPosts[] = {{kNameCheck, kRecDeviceStatue},
                                        {kNameSettings, kLightModeChange},
                                        {kNameSettings, kGameModeChange},
                                        {kNameSettings, kProfileChange},
                                        {kNameSettings, kSettingApplied}};

// ---- The keyboard's input reports: a report ID (the type), then 8 bytes ----

inline constexpr uint8_t kReportKeys = 4;   // byte 0: a media key or the launch key
inline constexpr uint8_t kReportState = 8;  // byte 2: what the keyboard changed on its own
inline constexpr int kReportBytes = 8;

// Report kReportKeys, byte 0. The media keys show their picture only; the
// launch key's byte 1 is the key (T1-T12 = 1-12, M1-M8 = 13-20).
inline constexpr uint8_t kKeyPlayPause = 0xCD;
inline constexpr uint8_t kKeyNextTrack = 0xB5;
inline constexpr uint8_t kKeyPreviousTrack = 0xB6;
inline constexpr uint8_t kKeyStop = 0xB7;
inline constexpr uint8_t kKeyLaunch = 0xFD;
inline constexpr uint8_t kMediaKeys[] = {kKeyPlayPause, kKeyNextTrack, kKeyPreviousTrack, kKeyStop};

// Report kReportState: counts only with byte 0 at most kStateByte0Max; byte 2
// from kStateFirst to kStateLast is an OSD code.
inline constexpr uint8_t kStateByte0Max = 0xF0;
inline constexpr uint8_t kStateFirst = 0xF1;
inline constexpr uint8_t kStateProfile1 = 0xF1;  // to 0xF3: profile 1-3
inline constexpr uint8_t kStateProfile3 = 0xF3;
inline constexpr uint8_t kStateGameOn = 0xF8;
inline constexpr uint8_t kStateGameOff = 0xF9;
inline constexpr uint8_t kStateLight0 = 0xFA;  // to 0xFE: light mode 0-4
inline constexpr uint8_t kStateLight4 = 0xFE;
inline constexpr uint8_t kStateLast = 0xFE;

// ---- The requests to the keyboard: vendor control requests on endpoint 0 ----

inline constexpr uint8_t kRequestOut = 0x40;  // bmRequestType: vendor, to the keyboard
inline constexpr uint8_t kRequestIn = 0xC0;   // bmRequestType: vendor, from the keyboard

// bRequest. Out requests carry no data stage unless a payload is named;
// wIndex names the keyboard's profile (1-3) where one is.
inline constexpr uint8_t kReqReset = 0x01;
inline constexpr uint8_t kReqWorkMode = 0x02;        // wValue kWorkModeNormal or kWorkModeGame
inline constexpr uint8_t kReqSave = 0x03;            // the keyboard saves what it holds
inline constexpr uint8_t kReqLightStatus = 0x04;     // in, 8 bytes: byte 1 the light level
inline constexpr uint8_t kReqMacroIndex = 0x10;      // payload: the macro index
inline constexpr uint8_t kReqMacroData = 0x12;       // payload: a macro block, wValue its offset
inline constexpr uint8_t kReqSelectProfile = 0x14;   // wValue: the profile
inline constexpr uint8_t kReqCurrentProfile = 0x15;  // in, 1 byte: the current profile
inline constexpr uint8_t kReqKeyMapping = 0x16;      // payload: the key-mapping table
inline constexpr uint8_t kReqMatrix = 0x18;          // payload: the key matrix
inline constexpr uint8_t kReqInstantShift = 0x1A;    // wValue: next | previous modifier << 8
inline constexpr uint8_t kReqLight = 0x31;           // wValue: the style, wIndex: the zone (+0x80: off)
inline constexpr uint16_t kWorkModeNormal = 1;
inline constexpr uint16_t kWorkModeGame = 3;
inline constexpr int kLightStatusBytes = 8;

}  // namespace qz5
