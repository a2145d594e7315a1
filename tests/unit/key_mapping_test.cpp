// The macro key-mapping table.
#include "tests/support/keyboard_fixture.hpp"

namespace {

using MappingTest = KeyboardTest;

TEST_F(MappingTest, KeyIdsAndRepeatModes) {
    bus.AddDevice();
    const uint32_t options[] = {0, 1, 2, 3, 7, 0xFFFFFFFF};
    for (int i = 0; i < 6; ++i) Key(2, i).MACRO.REPEAT_OPTION = options[i];
    Key(2, 12).MAPKEY_KEYCODE = 1;     // mapping key 0 on A
    Key(2, 15).MAPKEY_KEYCODE = 0x31;  // mapping key 3 on Tab
    Key(2, 15).MACRO.REPEAT_OPTION = 3;
    Key(2, 16).MAPKEY_KEYCODE = 37;    // Return + 1: no key of the layout
    Key(2, 16).MACRO.REPEAT_OPTION = 2;
    Key(2, 19).MAPKEY_KEYCODE = 0x100;  // no such code either
    prefs->MakeAndSendMappingKeytoDevice(2);
    EXPECT_EQ(Lines()[0], "40 16 00 00 03 00 3f 00 : 14"
                          "0001010102020303040105010601070108010901" "0a010b01"
                          "d801" "0001" "0001" "db03" "0002" "0001" "0001" "0001" + std::string(44, '0'));
}

}  // namespace
