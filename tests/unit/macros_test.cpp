// The macro download: key encodings, the index table, the data blocks, and
// index and data agreeing for any profile, over-full ones included.
#include <random>

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
    // n key steps: 3 n + 3 bytes.
    void KeyMacro(int p, int k, uint32_t n) { Macro(p, k, std::vector<_KEYMAP_INFO>(n, {1, 1})); }
    // The stream as the data blocks carried it; checks the block framing.
    std::vector<uint8_t> StreamOf(int p) {
        std::vector<uint8_t> stream;
        size_t blocks = 0;
        for (const auto& r : bus.requests) {
            if (r.setup[1] != 0x12) continue;
            EXPECT_EQ(r.setup[4], p + 1);
            EXPECT_EQ(r.setup[2] | r.setup[3] << 8, static_cast<int>(stream.size()));
            EXPECT_EQ(stream.size() % 4096, 0u) << "only the last block is short";
            stream.insert(stream.end(), r.data.begin(), r.data.end());
            ++blocks;
        }
        EXPECT_EQ(blocks, stream.size() / 4096 + 1);
        return stream;
    }
    std::vector<uint8_t> IndexOf() {
        for (const auto& r : bus.requests)
            if (r.setup[1] == 0x10) return r.data;
        return {};
    }
};

TEST_F(MacroTest, KeyEncodings) {
    Key(0, 0) = {};
    Key(0, 0).FUNCID = 1;
    Key(0, 0).SINGLE_KEYCODE = 0x100;  // low byte 0: the A key, not offset
    EXPECT_EQ(Encode(0, 0), Bytes("04"));
    Key(0, 14).FUNCID = 3;
    EXPECT_EQ(Encode(0, 14), Bytes("0f fd"));
    Macro(0, 1, {{255, 0x123403E8}});  // delay 1000; bits above 15 dropped
    EXPECT_EQ(Encode(0, 1), Bytes("87 03 e8 86 00 01"));
    Macro(0, 2, {{5, 2}, {5, 1}, {0, 1}, {0x39, 1}});  // H up, H down, no key, Shift down
    EXPECT_EQ(Encode(0, 2), Bytes("84 0b 00 84 0b 01 84 00 01 84 e1 01 86 00 01"));
    Macro(0, 3, {{230, 1}, {254, 1}, {256, 1}});  // skipped codes: nothing, no end item
    EXPECT_EQ(Encode(0, 3), Bytes(""));
    Macro(0, 4, {});
    EXPECT_EQ(Encode(0, 4), Bytes(""));
    Key(0, 5).FUNCID = 4;
    Key(0, 5).SINGLE_KEYCODE = 0;
    EXPECT_EQ(Encode(0, 5), Bytes(""));
    std::vector<_KEYMAP_INFO> builtIns;
    for (uint32_t code = 208; code <= 224; ++code) builtIns.push_back({code, 0});
    Macro(0, 6, builtIns);
    EXPECT_EQ(Hex(Encode(0, 6)),
              "844b01844b00" "844e01844e00" "84e30184060184060084e300" "84e30184190184190084e300"
              "84e301841d01841d0084e300" "842a01842a00" "84e301841b01841b0084e300"
              "84e30184040184040084e300" "84e30184090184090084e300" "84e30184130184130084e300"
              "84e30184160184160084e300" "84e30184110184110084e300" "830100830000" "830200830000"
              "830400830000" "820100" "82ff00" "860001");
}

TEST_F(MacroTest, EmptyProfileAndASingleKey) {
    m_Config.PROFILE_ID = 0;
    prefs->MakeAndSendMacroIndextoDevice(2);
    prefs->MakeAndSendMacroDataBlocktoDevice(2);
    EXPECT_EQ(m_Config.PROFILE_ID, 2u);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"40 10 00 00 03 00 69 00 : 1400690000" + std::string(200, '0'),
                                                 "40 12 00 00 03 00 00 00"}));
    EXPECT_EQ(events.back(), "pause 500");

    bus.requests.clear();
    Key(0, 0).FUNCID = 1;
    Key(0, 0).SINGLE_KEYCODE = 0x7A;  // F1
    prefs->MakeAndSendMacroIndextoDevice(0);
    prefs->MakeAndSendMacroDataBlocktoDevice(0);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"40 10 00 00 01 00 69 00 : 14006900011000000001" + std::string(190, '0'),
                                                 "40 12 00 00 01 00 01 00 : 3a"}));
}

TEST_F(MacroTest, BlocksSplitAt4096WithAZeroLengthLastBlock) {
    KeyMacro(1, 0, 1364);  // 4095 bytes
    Key(1, 1).FUNCID = 1;  // 1 byte: 4096 in all
    prefs->MakeAndSendMacroDataBlocktoDevice(1);
    EXPECT_EQ(Lines()[1], "40 12 00 10 02 00 00 00");
    EXPECT_EQ(StreamOf(1).size(), 4096u);
    EXPECT_EQ(events, (std::vector<std::string>{Lines()[0], "pause 500000", "pause 4500", Lines()[1],
                                                "pause 500000", "pause 500"}));

    bus.requests.clear();
    Key(1, 1).FUNCID = 0;
    KeyMacro(1, 0, 1665);  // 4998 bytes
    Key(1, 19).FUNCID = 3;  // 2 bytes: 5000 in all
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
    KeyMacro(0, 1, 4000);          // 12003 bytes
    KeyMacro(0, 2, 3000);          // 9003: does not fit after 12003
    Key(0, 12).FUNCID = 3;         // 2 bytes still fit
    KeyMacro(0, 13, 2824);         // 8475: fills the memory to exactly 20480
    Key(0, 14).FUNCID = 1;         // nothing is left for one byte
    Key(0, 14).MACRO.LENGTH = 0xFFFFFFFF;  // nor is a length beyond the steps read
    prefs->MakeAndSendMacroIndextoDevice(0);
    prefs->MakeAndSendMacroDataBlocktoDevice(0);
    const auto index = IndexOf();
    ASSERT_EQ(index.size(), 105u);
    EXPECT_EQ(Hex({index.begin() + 3, index.begin() + 20}), "5000" "2000000000" "2000002ee3" "202ee30000");
    EXPECT_EQ(Hex({index.begin() + 65, index.begin() + 80}), "112ee30002" "202ee5211b" "1050000000");
    const auto stream = StreamOf(0);
    ASSERT_EQ(stream.size(), 20480u);
    EXPECT_EQ(bus.requests.back().Line(), "40 12 00 50 01 00 00 00");
    EXPECT_EQ(std::vector<uint8_t>(stream.begin() + 12003, stream.begin() + 12005), Bytes("0d fd"));  // key number 13
    EXPECT_TRUE(log.Contains("T-key 1 (65283 bytes)"));
    EXPECT_TRUE(log.Contains("T-key 3 (9003 bytes)"));
    EXPECT_TRUE(log.Contains("mapping key 3 (1 bytes)"));
    EXPECT_EQ(log.lines.size(), 3u + 1u);  // and the construction line
}

TEST_F(MacroTest, IndexDescribesTheStreamForRandomProfiles) {
    std::mt19937 rng(20240601);
    auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
    size_t droppedKeys = 0;
    for (int round = 0; round < 40; ++round) {
        const int p = static_cast<int>(pick(0, 2));
        for (int k = 0; k < kProgKeyCount; ++k) {
            _TKEY_INFO& key = Key(p, k);
            key.FUNCID = pick(0, 5);
            key.SINGLE_KEYCODE = pick(0, 0xFFFF);
            const uint32_t steps = pick(0, 4) == 0 ? pick(0, kMacroStepMax) : pick(0, 40);
            key.MACRO.LENGTH = steps;
            for (uint32_t i = 0; i < steps; ++i) key.MACRO.KEYMAP[i] = {pick(0, 260), pick(0, 0x1FFFF)};
        }
        bus.requests.clear();
        log.lines.clear();
        prefs->MakeAndSendMacroIndextoDevice(p);
        prefs->MakeAndSendMacroDataBlocktoDevice(p);
        const auto index = IndexOf();
        const auto stream = StreamOf(p);
        ASSERT_EQ(index.size(), 105u);
        EXPECT_EQ(Hex({index.begin(), index.begin() + 3}), "140069");
        EXPECT_EQ(index[3] << 8 | index[4], static_cast<int>(stream.size()));
        size_t running = 0, dropped = 0;
        for (int k = 0; k < kProgKeyCount; ++k) {
            const uint8_t* e = &index[5 + 5 * k];
            const size_t offset = e[1] << 8 | e[2], length = e[3] << 8 | e[4];
            EXPECT_EQ(e[0], prefs->GetDeviceFuncID(Key(p, k).FUNCID));
            if (Key(p, k).FUNCID < 1 || Key(p, k).FUNCID > 3) {
                EXPECT_EQ(offset + length, 0u);
                continue;
            }
            EXPECT_EQ(offset, running);
            const auto encoding = Encode(p, k);
            if (length == 0 && !encoding.empty()) {
                EXPECT_GT(encoding.size(), 20480 - running) << "key " << k << " dropped though it fits";
                ++dropped;
                continue;
            }
            ASSERT_EQ(length, encoding.size());
            ASSERT_LE(offset + length, stream.size());
            EXPECT_TRUE(std::equal(encoding.begin(), encoding.end(), stream.begin() + offset)) << k;
            running += length;
        }
        EXPECT_EQ(running, stream.size());
        EXPECT_EQ(log.lines.size(), dropped);
        droppedKeys += dropped;
    }
    EXPECT_GT(droppedKeys, 0u) << "no round filled the macro memory";
}

}  // namespace
