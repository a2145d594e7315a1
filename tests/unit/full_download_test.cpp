// The full download of a profile: order, pacing, two keyboards, failures,
// profiles outside the record.
#include <libusb.h>

#include "tests/support/keyboard_fixture.hpp"

namespace {

using FullDownloadTest = KeyboardTest;

TEST_F(FullDownloadTest, OrderAndPacing) {
    bus.AddDevice();
    m_Config.GAME_MODE = 5;
    m_Config.LIGHT_OPTION = {4, 0, 7, 1, 1};  // style 4; WASD off, the others on
    m_Config.PROFILE[1].INSTANT_SHIFT = {2, 3};
    Key(1, 3).FUNCID = 3;
    prefs->SendFullDownload(1, true);
    std::vector<std::string> kinds;
    for (const auto& e : events) kinds.push_back(e.substr(0, 23));
    const std::string p = "pause 500000", zone = "pause 200000";
    EXPECT_EQ(kinds, (std::vector<std::string>{
                         p, "40 18 00 00 02 00 a0 00", p, "40 10 00 00 02 00 69 00", p,
                         "40 12 00 00 02 00 02 00", p, "pause 500", "40 16 00 00 02 00 3f 00", p,
                         "40 31 00 01 80 00 00 00", p, zone, "40 31 04 01 01 00 00 00", p, zone,
                         "40 31 04 01 02 00 00 00", p, zone, "40 31 04 01 03 00 00 00", p, zone,
                         "40 02 03 00 00 00 00 00", p, "40 1a e1 e0 00 00 00 00", p,
                         "40 03 00 00 00 00 00 00", p}));
    EXPECT_EQ(m_Config.PROFILE_ID, 1u);
    events.clear();
    prefs->SendFullDownload(1, false);
    EXPECT_EQ(events.size(), kinds.size() - 2);  // no save
    EXPECT_EQ(events[events.size() - 2].substr(0, 5), "40 1a");
}

TEST_F(FullDownloadTest, TwoKeyboardsGetEveryRequestAndAFailureStopsNothing) {
    bus.AddDevice();
    bus.AddDevice();
    bus.FailTransfer(2, LIBUSB_ERROR_PIPE);  // the macro index, first keyboard
    bus.onRequest = [this](const RecordedRequest&) { EXPECT_EQ(bus.openCount, 1); };
    prefs->SendFullDownload(0, true);
    ASSERT_EQ(bus.requests.size(), 2u * 11);
    for (size_t i = 0; i < bus.requests.size(); i += 2) {
        EXPECT_EQ(bus.requests[i].device, 0);
        EXPECT_EQ(bus.requests[i + 1].device, 1);
        EXPECT_EQ(Hex({bus.requests[i].setup, bus.requests[i].setup + 8}),
                  Hex({bus.requests[i + 1].setup, bus.requests[i + 1].setup + 8}));
    }
    EXPECT_EQ(bus.requests[2].status, LIBUSB_ERROR_PIPE);
    EXPECT_NE(Diagnostics().find("unable to download to device: fffffff7\n"), std::string::npos);
    EXPECT_EQ(bus.requests.back().Line(), "40 03 00 00 00 00 00 00");
    EXPECT_EQ(bus.openCount + bus.deviceLive, 0);
}

TEST_F(FullDownloadTest, AProfileOutsideTheRecordSendsNothing) {
    bus.AddDevice();
    m_Config.PROFILE_ID = 1;
    for (int profile : {3, -1}) {
        prefs->SendFullDownload(profile, true);
        prefs->MakeAndSendMatrixtoDevice(profile);
        prefs->MakeAndSendMacroIndextoDevice(profile);
        prefs->MakeAndSendMacroDataBlocktoDevice(profile);
        prefs->MakeAndSendMappingKeytoDevice(profile);
        prefs->SendAltermateProfilePro(profile);
    }
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(m_Config.PROFILE_ID, 1u);
    EXPECT_TRUE(log.Contains("full download: no profile 3, nothing sent"));
    EXPECT_EQ(log.lines.size(), 1u + 12u);  // and the construction line
}

}  // namespace
