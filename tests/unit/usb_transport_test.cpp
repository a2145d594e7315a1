// The control-request transport: lookup, open, transfer, close per request,
// every keyboard served, failures printed and skipped, the two status reads.
#include <libusb.h>

#include "config/build_config.hpp"
#include "tests/support/keyboard_fixture.hpp"

namespace {

using TransportTest = KeyboardTest;

std::string Looking() {
    return "Looking for devices matching vendor ID=" + std::to_string(kQz5UsbVendorId) +
           " and product ID=" + std::to_string(kQz5UsbProductId) + "\n";
}

TEST_F(TransportTest, WithoutKeyboardOnlyTheLookupLineAndReadsGiveZero) {
    bus.AddDevice(0x1234, 0x5678);  // some other device
    prefs->ResetDevice();
    EXPECT_EQ(prefs->GetDevProfile(), 0);
    EXPECT_EQ(prefs->GetDevLightLevel(), 0);
    EXPECT_TRUE(bus.requests.empty());
    EXPECT_EQ(Diagnostics(), Looking() + Looking() + Looking());
    EXPECT_EQ(events, std::vector<std::string>{"pause 500000"});  // reads do not pause
}

TEST_F(TransportTest, EveryKeyboardGetsEachRequestInEnumerationOrderAndNoHandleOutlivesIt) {
    bus.AddDevice();
    bus.AddDevice(0x1234, 0x5678);
    bus.AddDevice();
    bus.onRequest = [this](const RecordedRequest&) {
        EXPECT_EQ(bus.openCount, 1);
        EXPECT_EQ(bus.deviceLive, 2 - static_cast<int>(bus.requests.size() - 1) % 2);
    };
    prefs->SendProfileid(2);
    prefs->SendSaveToDevice();
    ASSERT_EQ(bus.requests.size(), 4u);
    const int devices[] = {0, 2, 0, 2};
    const char* lines[] = {"40 14 02 00 00 00 00 00", "40 14 02 00 00 00 00 00",
                           "40 03 00 00 00 00 00 00", "40 03 00 00 00 00 00 00"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bus.requests[i].device, devices[i]);
        EXPECT_EQ(bus.requests[i].Line(), lines[i]);
    }
    EXPECT_EQ(bus.openCount, 0);
    EXPECT_EQ(bus.deviceLive, 0);
    EXPECT_EQ(Diagnostics(), Looking() + Looking());
}

TEST_F(TransportTest, StatusReadsTakeTheirByteAndTheLastKeyboardWins) {
    bus.AddDevice();
    bus.SetReply(0, 0x04, {0x11, 0x22, 0x33, 0, 0, 0, 0, 0, 0x99});
    bus.SetReply(0, 0x15, {0xF7});
    EXPECT_EQ(prefs->GetDevLightLevel(), 0x22);
    EXPECT_EQ(prefs->GetDevProfile(), 0xF7);  // passed on unchanged
    EXPECT_EQ(bus.requests[0].Line(), "c0 04 00 00 00 00 08 00");
    EXPECT_EQ(bus.requests[0].data.size(), 8u);  // never more than wLength
    EXPECT_EQ(bus.requests[1].Line(), "c0 15 00 00 00 00 01 00");
    bus.AddDevice();
    bus.SetReply(1, 0x15, {0x02});
    EXPECT_EQ(prefs->GetDevProfile(), 0x02);
    EXPECT_EQ(events.size(), bus.requests.size());  // requests only: reads do not pause
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
    EXPECT_EQ(Diagnostics(), Looking() + "unable to open device: fffffffa\n" +
                                 "unable to download to device: fffffff9\n" + Looking() +
                                 "unable to open device: fffffffa\n");
    EXPECT_EQ(bus.openCount, 0);
    EXPECT_EQ(bus.deviceLive, 0);

    bus.FailEnumerate(LIBUSB_ERROR_NO_MEM);  // counts as no keyboard
    IOUSBDevRequest request{0x40, 0x01, 0, 0, 0, nullptr, 7};
    EXPECT_EQ(prefs->SendDeviceRequest(&request), 0);
    EXPECT_EQ(request.wLenDone, 0u);
    EXPECT_EQ(bus.requests.size(), 2u);
}

TEST_F(TransportTest, TheLibusbBusMatchesOnlyTheAskedForIds) {
    // 0xFFFF is no vendor's ID: whatever is attached, nothing matches it.
    std::vector<std::unique_ptr<UsbDevice>> found;
    const int status = LibusbBus().Enumerate(0xFFFF, 0xFFFF, found);
    EXPECT_LE(status, 0);
    EXPECT_TRUE(found.empty());
}

}  // namespace
