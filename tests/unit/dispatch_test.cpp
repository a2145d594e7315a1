// Launch keys, the driver node selection and the open probe on arrival
// (every other message kind is driven end to end by the system tests).
#include <libusb.h>

#include "daemon/application.hpp"
#include "platform/launch.hpp"
#include "platform/osd.hpp"
#include "platform/session.hpp"
#include "tests/support/keyboard_fixture.hpp"

namespace {

class DispatchTest : public KeyboardTest {
protected:
    void SetUp() override {
        KeyboardTest::SetUp();
        SetOsdDisplay(&osd);
        SetNotificationCenter(&center);
        SetLauncher(&launcher);
    }
    void TearDown() override {
        SetOsdDisplay(nullptr);
        SetNotificationCenter(nullptr);
        SetLauncher(nullptr);
        KeyboardTest::TearDown();
    }
    RecordingOsdDisplay osd;
    RecordingNotificationCenter center;
    RecordingLauncher launcher;
};

TEST_F(DispatchTest, LaunchKeysOpenTheCurrentProfilesPaths) {
    std::strcpy(Key(1, 11).LAUNCHPATH, "/t12");     // key number 12
    std::strcpy(Key(1, 12).LAUNCHPATH, "/m1");      // key number 13
    std::strcpy(Key(1, 19).LAUNCHPATH, "/m8");      // key number 20
    std::strcpy(Key(0, 0).LAUNCHPATH, "/other");    // another profile
    std::strcpy(Key(1, 1).LAUNCHPATH, "/gone");     // does not exist
    std::strcpy(Key(1, 2).LAUNCHPATH, "/bad\xC3");  // not UTF-8
    std::memset(Key(1, 3).LAUNCHPATH, 'x', sizeof Key(1, 3).LAUNCHPATH);  // no terminator
    launcher.existing = {"/t12", "/m1", "/m8", "/other", "/bad\xC3"};
    m_Config.PROFILE_ID = 1;
    for (int key : {12, 13, 20, 1, 2, 3, 4, 0, 21, 255}) {
        uint8_t data[8] = {0xFD, static_cast<uint8_t>(key), 0, 0, 0, 0, 0, 0};
        prefs->DealwithMessage(4, data);
    }
    EXPECT_EQ(launcher.opened, (std::vector<std::string>{"/t12", "/m1", "/m8"}));
    EXPECT_TRUE(osd.codes.empty());
    m_Config.PROFILE_ID = 7;  // a record whose current profile names none
    uint8_t data[8] = {0xFD, 12, 0, 0, 0, 0, 0, 0};
    prefs->DealwithMessage(4, data);
    EXPECT_EQ(launcher.opened.size(), 3u);
}

std::vector<UdevDevice> g_nodes;
std::vector<UdevDevice> ListNodes(std::string&) { return g_nodes; }

TEST(DriverNodes, FirstAndLastMatchingNodePassingThePreviousOneOver) {
    SetHidrawLister(&ListNodes);
    const auto node = [](const char* path, bool ours) {
        return UdevDevice{path, "", 0, 0, static_cast<uint16_t>(ours ? kQz5UsbVendorId : 0x046d),
                          static_cast<uint16_t>(ours ? kQz5UsbProductId : 0xc52b)};
    };
    const struct {
        std::vector<UdevDevice> nodes;
        std::string previous, first, last;
    } rows[] = {
        {{node("a", true), node("b", true)}, "", "a", "b"},
        {{node("x", false), node("a", true), node("y", false), node("b", true), node("z", false)}, "", "a", "b"},
        {{node("a", true)}, "", "a", "a"},
        {{node("a", true)}, "a", "a", "a"},  // the previous one, when nothing else matches
        {{node("a", true), node("b", true)}, "b", "a", "a"},
        {{node("a", true), node("b", true), node("c", true)}, "c", "a", "b"},
        {{node("x", false)}, "", "", ""},
        {{}, "", "", ""},
    };
    for (const auto& r : rows) {
        g_nodes = r.nodes;
        EXPECT_EQ(FindMyDriver(r.previous, true), r.first) << "row " << (&r - rows);
        EXPECT_EQ(FindMyDriver(r.previous, false), r.last) << "row " << (&r - rows);
    }
    SetHidrawLister(nullptr);
}

TEST_F(DispatchTest, ArrivalOpensEachDeviceWaitingOutExclusiveAccess) {
    const auto at = [](int devnum) { return UdevDevice{"", "", 1, devnum, 0, 0}; };  // bus 1
    bus.AddDevice();
    bus.AddDevice();
    bus.FailOpen(0, LIBUSB_ERROR_BUSY);
    scheduler.held = true;  // the waits are timers: the arrival returns at once
    Application::GetApp()->SetIsOnDev(false);
    SetSessionReader([](ConsoleSession&) { return false; });  // nobody logged in
    DeviceAddedNotifProc({at(1)});
    for (int sleeps = 1; sleeps <= 3; ++sleeps) {
        ASSERT_TRUE(scheduler.Armed()) << sleeps;
        if (sleeps == 3) bus.FailOpen(0, 0);  // the other client lets go
        scheduler.RunNext();
    }
    EXPECT_FALSE(scheduler.Armed());
    EXPECT_EQ(events, std::vector<std::string>(3, "pause 1000000"));
    EXPECT_EQ(bus.openCount, 0);

    // Five attempts in all, shared by the devices of one arrival.
    bus.FailOpen(0, LIBUSB_ERROR_ACCESS);
    bus.FailOpen(1, LIBUSB_ERROR_BUSY);
    scheduler.held = false;
    events.clear();
    DeviceAddedNotifProc({at(1), at(2), at(9)});
    EXPECT_EQ(events.size(), 6u);  // five for the first device, one for the second
    EXPECT_FALSE(Application::GetApp()->GetIsOnDev());
    EXPECT_EQ(bus.deviceLive, 0);
    SetSessionReader(nullptr);
}

}  // namespace
