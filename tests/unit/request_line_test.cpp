#include <gtest/gtest.h>

#include "platform/request_line.hpp"

TEST(RequestLine, SetupBytesThenDataOnlyForOutRequestsWithData) {
    const uint8_t light[8] = {0x40, 0x31, 0x04, 0x01, 0x03, 0x00, 0x00, 0x00};
    EXPECT_EQ(FormatRequestLine(light, nullptr), "40 31 04 01 03 00 00 00");
    const uint8_t map[8] = {0x40, 0x16, 0x00, 0x00, 0x01, 0x00, 0x03, 0x00};
    const uint8_t data[3] = {0x14, 0x00, 0xAB};
    EXPECT_EQ(FormatRequestLine(map, data), "40 16 00 00 01 00 03 00 : 1400ab");
    const uint8_t read[8] = {0xC0, 0x04, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00};
    EXPECT_EQ(FormatRequestLine(read, data), "c0 04 00 00 00 00 08 00");  // IN: setup alone
}
