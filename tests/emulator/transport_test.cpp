// The keyboard transport over real libusb, against the emulated keyboard.
// Run under qz5-emulator; the arguments after the test flags say what the
// emulator was given: --log=FILE --profile=N --light=N --keyboards=N.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/build_config.hpp"
#include "keyboard/preferences.hpp"
#include "platform/log_capture.hpp"
#include "tests/support/config_helpers.hpp"

namespace {

struct EmulatorArgs {
    std::string log;
    int profile = 1;
    int light = 0;
    int keyboards = 1;
} g_args;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class EmulatedTransport : public ::testing::Test {
protected:
    void SetUp() override {
        SetPause([](unsigned) {});
        diagnostics_ = std::tmpfile();
        SetRequestDiagnostics(diagnostics_);
        InitialConfigInto(m_Config);
        logStart_ = LogText().size();
    }
    void TearDown() override {
        SetRequestDiagnostics(stdout);
        SetPause({});
        std::fclose(diagnostics_);
    }
    std::string LogText() const {
        if (g_args.log.empty()) return "";
        std::ifstream in(g_args.log, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The lines the keyboards logged since the test began.
    std::vector<std::string> NewLogLines() const { return SplitLines(LogText().substr(logStart_)); }
    std::vector<std::string> Diagnostics() const {
        std::fflush(diagnostics_);
        std::rewind(diagnostics_);
        std::string text;
        for (int c; (c = std::fgetc(diagnostics_)) != EOF;) text += static_cast<char>(c);
        return SplitLines(text);
    }
    // What the same calls print through the printing bus: the bytes that must
    // have reached each keyboard.
    template <typename Fn>
    std::vector<std::string> Printed(Fn&& calls) {
        std::FILE* out = std::tmpfile();
        PrintingUsbBus printer(out);
        SetUsbBus(&printer);
        SetRequestDiagnostics(nullptr);
        calls();
        SetRequestDiagnostics(diagnostics_);
        SetUsbBus(nullptr);
        std::rewind(out);
        std::string text;
        for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
        std::fclose(out);
        return SplitLines(text);
    }

    ScopedLogCapture log_;
    Preferences prefs_;
    std::FILE* diagnostics_ = nullptr;
    size_t logStart_ = 0;
};

const std::string kLooking = "Looking for devices matching vendor ID=" + std::to_string(kQz5UsbVendorId) +
                             " and product ID=" + std::to_string(kQz5UsbProductId);

TEST_F(EmulatedTransport, EveryKeyboardGetsEachRequestByteForByte) {
    auto calls = [this] {
        prefs_.ResetDevice();
        prefs_.SetLightStatus(0, 0, 4);
        m_Config.PROFILE[1].KEY[17] = 1;
        m_Config.PROFILE[1].MAPPINGKEYINFO[0].MAPKEY_KEYCODE = 0x7B;
        prefs_.MakeAndSendMatrixtoDevice(1);
        prefs_.MakeAndSendMappingKeytoDevice(1);
    };
    const std::vector<std::string> printed = Printed(calls);
    ASSERT_EQ(printed.size(), 4u);
    logStart_ = LogText().size();
    calls();
    std::vector<std::string> expected;
    for (const auto& line : printed)
        for (int k = 0; k < g_args.keyboards; ++k) expected.push_back(line);
    EXPECT_EQ(NewLogLines(), expected);
    EXPECT_EQ(Diagnostics(), std::vector<std::string>(4, kLooking));  // no failures
}

TEST_F(EmulatedTransport, StatusReadsAnswerWhatTheKeyboardHolds) {
    EXPECT_EQ(prefs_.GetDevProfile(), g_args.profile);
    EXPECT_EQ(prefs_.GetDevLightLevel(), g_args.light);
    prefs_.SendProfileid(2);
    EXPECT_EQ(prefs_.GetDevProfile(), 2);
    std::vector<std::string> expected;
    for (const char* line : {"c0 15 00 00 00 00 01 00", "c0 04 00 00 00 00 08 00", "40 14 02 00 00 00 00 00",
                             "c0 15 00 00 00 00 01 00"})
        for (int k = 0; k < g_args.keyboards; ++k) expected.push_back(line);
    EXPECT_EQ(NewLogLines(), expected);
}

TEST_F(EmulatedTransport, AStalledRequestIsPrintedWithItsLibusbStatus) {
    uint8_t buffer[512] = {};
    IOUSBDevRequest request{0xC0, 0x20, 0, 0, 4, buffer, 0};
    EXPECT_EQ(prefs_.SendDeviceRequest(&request), 0);
    std::vector<std::string> expected{kLooking};
    for (int k = 0; k < g_args.keyboards; ++k)
        expected.push_back("unable to download to device: fffffff7");  // LIBUSB_ERROR_PIPE
    EXPECT_EQ(Diagnostics(), expected);
}

TEST_F(EmulatedTransport, WithoutAKeyboardOnlyTheLookupIsPrintedAndReadsGiveZero) {
    EXPECT_EQ(prefs_.GetDevProfile(), 0);
    EXPECT_EQ(prefs_.GetDevLightLevel(), 0);
    prefs_.ResetDevice();
    EXPECT_EQ(Diagnostics(), std::vector<std::string>(3, kLooking));
    EXPECT_TRUE(NewLogLines().empty());
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) { return arg.substr(std::strlen(name)); };
        if (arg.rfind("--log=", 0) == 0) g_args.log = value("--log=");
        else if (arg.rfind("--profile=", 0) == 0) g_args.profile = std::stoi(value("--profile="));
        else if (arg.rfind("--light=", 0) == 0) g_args.light = std::stoi(value("--light="));
        else if (arg.rfind("--keyboards=", 0) == 0) g_args.keyboards = std::stoi(value("--keyboards="));
        else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    return RUN_ALL_TESTS();
}
