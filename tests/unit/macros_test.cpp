// The macro download: key encodings, the index table, the data blocks, and
// over-full profiles.
#include "tests/support/keyboard_fixture.hpp"

namespace {

class MacroTest : public KeyboardTest {
protected:
    void SetUp() override {
        KeyboardTest::SetUp();
        bus.AddDevice();
    }
    void Macro(int p, int k, std::vector<_KEYMAP_INFO> steps) {
        Key(p, k).FUNCID = 2;
        Key(p, k).MACRO.LENGTH = static_cast<uint32_t>(steps.size());
        std::copy(steps.begin(), steps.end(), Key(p, k).MACRO.KEYMAP);
    }
    void KeyMacro(int p, int k, uint32_t n) { Macro(p, k, std::vector<_KEYMAP_INFO>(n, {1, 1})); }  // 3n+3 bytes
    std::vector<uint8_t> Encode(int p, int k) {
        std::vector<uint8_t> out(prefs->GetMacroInfo(k, &Key(p, k), nullptr));
        EXPECT_EQ(prefs->GetMacroInfo(k, &Key(p, k), out.data()), out.size());
        return out;
    }
    // The stream as the data blocks carried it, checking their framing; and the index.
    std::vector<uint8_t> StreamOf(int p) {
        std::vector<uint8_t> stream;
        for (const auto& r : bus.requests) {
            if (r.setup[1] != 0x12) continue;
            EXPECT_EQ(r.setup[4], p + 1);
            EXPECT_EQ(r.setup[2] | r.setup[3] << 8, static_cast<int>(stream.size()));
            EXPECT_EQ(stream.size() % 4096, 0u) << "only the last block is short";
            stream.insert(stream.end(), r.data.begin(), r.data.end());
        }
        return stream;
    }
    std::vector<uint8_t> IndexOf() {
        for (const auto& r : bus.requests)
            if (r.setup[1] == 0x10) return r.data;
        return {};
    }
};

TEST_F(MacroTest, KeyEncodings) {
    Key(0, 0).FUNCID = 1;
    Key(0, 0).SINGLE_KEYCODE = 0x100;  // low byte 0: the A key, not offset
    Key(0, 14).FUNCID = 3;
    Macro(0, 1, {{255, 0x123403E8}});  // delay 1000; bits above 15 dropped
    Macro(0, 2, {{5, 2}, {5, 1}, {0, 1}, {0x39, 1}});  // H up, H down, no key, Shift down
    Macro(0, 3, {{230, 1}, {254, 1}, {256, 1}});  // skipped codes: nothing, no end item
    Macro(0, 4, {});
    Key(0, 5).FUNCID = 4;
    std::vector<_KEYMAP_INFO> builtIns;
    for (uint32_t code = 208; code <= 224; ++code) builtIns.push_back({code, 0});
    Macro(0, 6, builtIns);
    const char* expected[] = {"04", "8703e8860001", "840b00840b0184000184e101860001", "", "", "",
                              "844b01844b00" "844e01844e00" "84e30184060184060084e300"
                              "84e30184190184190084e300" "84e301841d01841d0084e300" "842a01842a00"
                              "84e301841b01841b0084e300" "84e30184040184040084e300"
                              "84e30184090184090084e300" "84e30184130184130084e300"
                              "84e30184160184160084e300" "84e30184110184110084e300" "830100830000"
                              "830200830000" "830400830000" "820100" "82ff00" "860001"};
    for (int k = 0; k < 7; ++k) EXPECT_EQ(Hex(Encode(0, k)), expected[k]) << k;
    EXPECT_EQ(Hex(Encode(0, 14)), "0ffd");
}

TEST_F(MacroTest, EmptyProfileAndASingleKey) {
    prefs->MakeAndSendMacroIndextoDevice(2);
    prefs->MakeAndSendMacroDataBlocktoDevice(2);
    EXPECT_EQ(m_Config.PROFILE_ID, 2u);
    Key(0, 0).FUNCID = 1;
    Key(0, 0).SINGLE_KEYCODE = 0x7A;  // F1
    prefs->MakeAndSendMacroIndextoDevice(0);
    prefs->MakeAndSendMacroDataBlocktoDevice(0);
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "40 10 00 00 03 00 69 00 : 1400690000" + std::string(200, '0'),
                           "40 12 00 00 03 00 00 00",
                           "40 10 00 00 01 00 69 00 : 14006900011000000001" + std::string(190, '0'),
                           "40 12 00 00 01 00 01 00 : 3a"}));
}

TEST_F(MacroTest, BlocksSplitAt4096WithAZeroLengthLastBlock) {
    KeyMacro(1, 0, 1364);  // 4095 bytes
    Key(1, 1).FUNCID = 1;  // and 1: 4096
    prefs->MakeAndSendMacroDataBlocktoDevice(1);
    EXPECT_EQ(StreamOf(1).size(), 4096u);
    EXPECT_EQ(events, (std::vector<std::string>{Lines()[0], "pause 500000", "pause 4500",
                                                "40 12 00 10 02 00 00 00", "pause 500000", "pause 500"}));
    bus.requests.clear();
    Key(1, 1).FUNCID = 0;
    KeyMacro(1, 0, 1665);   // 4998 bytes
    Key(1, 19).FUNCID = 3;  // and 2: 5000
    prefs->MakeAndSendMacroDataBlocktoDevice(1);
    ASSERT_EQ(bus.requests.size(), 2u);
    EXPECT_EQ(Hex({bus.requests[1].setup, bus.requests[1].setup + 8}), "4012001002008803");
    auto expected = Encode(1, 0);
    expected.insert(expected.end(), {20, 0xFD});
    EXPECT_EQ(StreamOf(1), expected);
    EXPECT_EQ(events.back(), "pause 1000");
}

TEST_F(MacroTest, KeysThatDoNotFitAreSentEmptyAndLogged) {
    Macro(0, 0, std::vector<_KEYMAP_INFO>(kMacroStepMax, {210, 0}));  // 65283 bytes
    KeyMacro(0, 1, 4000);                  // 12003 bytes
    KeyMacro(0, 2, 3000);                  // 9003: does not fit after 12003
    Key(0, 12).FUNCID = 3;                 // 2 bytes still fit
    KeyMacro(0, 13, 2824);                 // 8475: fills the memory to exactly 20480
    Key(0, 14).FUNCID = 1;                 // nothing is left for one byte
    Key(0, 15).MACRO.LENGTH = 0xFFFFFFFF;  // a length beyond the steps is not read past
    Key(0, 15).FUNCID = 2;
    prefs->MakeAndSendMacroIndextoDevice(0);
    prefs->MakeAndSendMacroDataBlocktoDevice(0);
    const std::string index = Hex(IndexOf());
    EXPECT_EQ(index.substr(6, 34), "5000" "2000000000" "2000002ee3" "202ee30000");
    EXPECT_EQ(index.substr(130, 40), "112ee30002" "202ee5211b" "1050000000" "2050000000");
    const auto stream = StreamOf(0);
    ASSERT_EQ(stream.size(), 20480u);
    EXPECT_EQ(bus.requests.back().Line(), "40 12 00 50 01 00 00 00");
    EXPECT_EQ(Hex({stream.begin() + 12003, stream.begin() + 12005}), "0dfd");  // key number 13
    for (const char* what : {"T-key 1 (65283 bytes)", "T-key 3 (9003 bytes)", "mapping key 3 (1 bytes)",
                             "mapping key 4 (16323 bytes)"})
        EXPECT_TRUE(log.Contains(what)) << what;
    EXPECT_EQ(log.lines.size(), 1u + 4u);  // and the construction line
}

}  // namespace
