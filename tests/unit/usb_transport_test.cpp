// The control-request transport and the two status reads.
#include <libusb.h>

#include "config/build_config.hpp"
#include "tests/support/keyboard_fixture.hpp"

namespace {

using TransportTest = KeyboardTest;

const std::string kLooking = "Looking for devices matching vendor ID=" + std::to_string(kQz5UsbVendorId) +
                             " and product ID=" + std::to_string(kQz5UsbProductId) + "\n";

TEST_F(TransportTest, WithoutKeyboardOnlyTheLookupLineAndReadsGiveZero) {
    bus.AddDevice(0x1234, 0x5678);  // some other device
    prefs->ResetDevice();
    EXPECT_EQ(prefs->GetDevProfile(), 0);
    EXPECT_EQ(prefs->GetDevLightLevel(), 0);
    EXPECT_TRUE(bus.requests.empty());
    EXPECT_EQ(Diagnostics(), kLooking + kLooking + kLooking);
    EXPECT_TRUE(events.empty());  // reads do not pause, nor a command that found no keyboard
}

TEST_F(TransportTest, StatusReadsTakeTheirByteAndTheLastKeyboardWins) {
    bus.AddDevice();
    bus.SetReply(0, 0x04, {0x11, 0x22, 0x33, 0, 0, 0, 0, 0, 0x99});
    bus.SetReply(0, 0x15, {0xF7});
    EXPECT_EQ(prefs->GetDevLightLevel(), 0x22);
    EXPECT_EQ(prefs->GetDevProfile(), 0xF7);  // passed on unchanged
    EXPECT_EQ(Lines(), (std::vector<std::string>{"c0 04 00 00 00 00 08 00", "c0 15 00 00 00 00 01 00"}));
    EXPECT_EQ(bus.requests[0].data.size(), 8u);  // never more than wLength
    bus.AddDevice();
    bus.SetReply(1, 0x15, {0x02});
    EXPECT_EQ(prefs->GetDevProfile(), 0x02);
}

TEST_F(TransportTest, FailuresArePrintedAndTheOtherKeyboardsStillServed) {
    bus.AddDevice();
    bus.AddDevice();
    bus.FailOpen(0, LIBUSB_ERROR_BUSY);
    bus.SetReply(1, 0x15, {3});
    bus.FailTransfer(0, LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(prefs->GetDevProfile(), 0);  // the failed read leaves the zeroed buffer
    prefs->ResetDevice();
    ASSERT_EQ(bus.requests.size(), 2u);
    EXPECT_EQ(bus.requests[1].device, 1);
    EXPECT_EQ(Diagnostics(), kLooking + "unable to open device: fffffffa\n" +
                                 "unable to download to device: fffffff9\n" + kLooking +
                                 "unable to open device: fffffffa\n");
    EXPECT_EQ(bus.deviceLive, 0);

    bus.FailEnumerate(LIBUSB_ERROR_NO_MEM);  // counts as no keyboard
    IOUSBDevRequest request{0x40, 0x01, 0, 0, 0, nullptr, 7};
    EXPECT_EQ(prefs->SendDeviceRequest(&request), 0);
    EXPECT_EQ(request.wLenDone, 0u);
    EXPECT_EQ(bus.requests.size(), 2u);
}

}  // namespace
