// The key matrix: the usage table against an independent listing, positions,
// and the table sent for a profile.
#include "config/xmlconfig.hpp"
#include "tests/support/keyboard_fixture.hpp"

namespace {

using MatrixTest = KeyboardTest;

// macOS virtual key codes 0x00-0x7E in code order, each with the HID usage
// of the same key (0 where the code is no key of the table).
constexpr uint8_t kUsageOfMacCode[0x7F] = {
    /*00 A S D F H G Z X*/ 0x04, 0x16, 0x07, 0x09, 0x0B, 0x0A, 0x1D, 0x1B,
    /*08 C V Section B Q W E R*/ 0x06, 0x19, 0, 0x05, 0x14, 0x1A, 0x08, 0x15,
    /*10 Y T 1 2 3 4 6 5*/ 0x1C, 0x17, 0x1E, 0x1F, 0x20, 0x21, 0x23, 0x22,
    /*18 = 9 7 - 8 0 ] O*/ 0x2E, 0x26, 0x24, 0x2D, 0x25, 0x27, 0x30, 0x12,
    /*20 U [ I P Return L J '*/ 0x18, 0x2F, 0x0C, 0x13, 0x28, 0x0F, 0x0D, 0x34,
    /*28 K ; \ , / N M .*/ 0x0E, 0x33, 0x31, 0x36, 0x38, 0x11, 0x10, 0x37,
    /*30 Tab Space ` Delete - Escape RCmd Cmd*/ 0x2B, 0x2C, 0x35, 0x2A, 0, 0x29, 0, 0xE3,
    /*38 Shift Caps Option Control RShift ROption RControl Fn*/ 0xE1, 0x39, 0xE2, 0xE0, 0xE5, 0xE6, 0xE4, 0,
    /*40 F17 Kp. - Kp* - Kp+ - Clear*/ 0, 0x63, 0, 0x55, 0, 0x57, 0, 0x53,
    /*48 VolUp VolDown Mute Kp/ KpEnter - Kp- F18*/ 0, 0, 0, 0x54, 0x58, 0, 0x56, 0,
    /*50 F19 Kp= Kp0 Kp1 Kp2 Kp3 Kp4 Kp5*/ 0, 0, 0x62, 0x59, 0x5A, 0x5B, 0x5C, 0x5D,
    /*58 Kp6 Kp7 F20 Kp8 Kp9 Yen Underscore KpComma*/ 0x5E, 0x5F, 0, 0x60, 0x61, 0, 0, 0,
    /*60 F5 F6 F7 F3 F8 F9 Eisu F11*/ 0x3E, 0x3F, 0x40, 0x3C, 0x41, 0x42, 0, 0x44,
    /*68 Kana F13 F16 F14 - F10 Menu F12*/ 0, 0x46, 0, 0x47, 0, 0x43, 0x65, 0x45,
    /*70 - F15 Help Home PgUp FwdDel F4 End*/ 0, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x3D, 0x4D,
    /*78 F2 PgDown F1 Left Right Down Up*/ 0x3B, 0x4E, 0x3A, 0x50, 0x4F, 0x51, 0x52,
};

TEST_F(MatrixTest, UsageTableAgreesWithTheKeyCodeListing) {
    // Rows: ascending usages 0x04-0x65 then 0xE0-0xE6.
    for (int i = 0; i < kUsageMacVkRows; ++i)
        EXPECT_EQ(UsageID_MacVk[i].usage, i < 98 ? 0x04u + i : 0xE0u + (i - 98)) << i;
    for (const auto& row : UsageID_MacVk) {
        const uint32_t u = row.usage, mac = row.macVk;
        const bool standIn = u == 0x32 || u == 0x64;  // Non-US # and Non-US backslash
        if (standIn) continue;
        ASSERT_LT(mac, 0x7Fu) << std::hex << u;
        EXPECT_EQ(kUsageOfMacCode[mac], u) << std::hex << "usage " << u << " code " << mac;
    }
    EXPECT_EQ(UsageID_MacVk[0x32 - 4].macVk, 0x2Au);
    EXPECT_EQ(UsageID_MacVk[0x64 - 4].macVk, 0x00u);
    // The conversion over every code: first match, 0 where no row holds it.
    for (int mac = 0; mac < 256; ++mac)
        EXPECT_EQ(prefs->MacCodeToUsageCode(static_cast<uint8_t>(mac)), mac < 0x7F ? kUsageOfMacCode[mac] : 0)
            << std::hex << mac;
}

TEST_F(MatrixTest, EveryKeyOfTheLayoutHasItsOwnPosition) {
    std::vector<int> seen(kMatrixPositions, -1);
    for (int row = 0; row < kStdKeyRowsInUse; ++row) {
        ASSERT_TRUE(StdRowHasKey(row)) << row;
        const int p = prefs->GetMatrixKeyPos(static_cast<int>(StdKeyInfo[row].vkey));
        ASSERT_LT(p, kMatrixPositions) << "row " << row;
        EXPECT_EQ(seen[p], -1) << "rows " << seen[p] << " and " << row << " share position " << p;
        seen[p] = row;
    }
    for (int row = kStdKeyRowsInUse; row < kKeySlotCount; ++row) EXPECT_FALSE(StdRowHasKey(row));
    EXPECT_EQ(prefs->GetMatrixKeyPos(0x45), 131);  // keypad +
    EXPECT_EQ(prefs->GetMatrixKeyPos(0x118), 73);   // =, only the low byte counts
    EXPECT_EQ(prefs->GetMatrixKeyPos(0x36), 31);    // no usage: the empty position
    EXPECT_EQ(prefs->GetMatrixKeyPos(0x24), 24);    // Return: no slot, but a position
}

TEST_F(MatrixTest, TablesSent) {
    bus.AddDevice();
    std::vector<uint8_t> defaults(DefaultMatrix_UsageID, DefaultMatrix_UsageID + kMatrixPositions);
    defaults.resize(kMatrixTableSize, 0);
    prefs->MakeAndSendMatrixtoDevice(0);  // nothing assigned
    InitialConfigInto(m_Config);           // every key itself; slots 102-159 hold 1
    prefs->MakeAndSendMatrixtoDevice(2);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"40 18 00 00 01 00 a0 00 : " + Hex(defaults),
                                                 "40 18 00 00 03 00 a0 00 : " + Hex(defaults)}));
    // A remap of A stands against the factory values of the keyless slots,
    // and those slots change nothing whatever they hold.
    auto& p = m_Config.PROFILE[1];
    p.KEY[58] = 0x7B;                           // A produces F1
    for (int slot = 102; slot < kKeySlotCount; ++slot) m_Config.PROFILE[0].KEY[slot] = 0x7B;
    p.KEY[17] = 1;                              // 1 key produces A
    p.KEY[28] = 0x7B;                           // = key produces F1
    p.KEY[93] = 0x37;                           // Space produces right Command: no usage
    p.MAPPINGKEYINFO[0].MAPKEY_KEYCODE = 0x7B;  // on F1
    p.KEY[1] = 1;                               // F1 remapped too: the mapping key wins
    p.MAPPINGKEYINFO[2].MAPKEY_KEYCODE = 0x31;  // two mapping keys on Tab:
    p.MAPPINGKEYINFO[5].MAPKEY_KEYCODE = 0x31;  // the higher one stays
    p.MAPPINGKEYINFO[6].MAPKEY_KEYCODE = 0x25;  // Return has no slot: nowhere
    prefs->MakeAndSendMatrixtoDevice(0);
    prefs->MakeAndSendMatrixtoDevice(1);
    auto expected = defaults;
    for (auto [pos, usage] : {std::pair{48, 0x3A}, {1, 0x04}, {73, 0x3A}, {40, 0x00}, {17, 0xD8}, {56, 0xDD}})
        expected[pos] = static_cast<uint8_t>(usage);
    EXPECT_EQ(bus.requests[2].data, defaults);
    EXPECT_EQ(Hex(bus.requests[3].data), Hex(expected));
}

}  // namespace
