// The keyboard transport over real libusb, against the emulated keyboard.
// Run under qz5-emulator; the arguments after the test flags say what the
// emulator was given: --log=FILE --keyboards=N.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "config/build_config.hpp"
#include "keyboard/preferences.hpp"
#include "testing/log_capture.hpp"
#include "tests/support/config_helpers.hpp"

namespace {

struct EmulatorArgs {
    std::string log;
    int keyboards = 1;
} g_args;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Everything written to a temporary file so far, as lines.
std::vector<std::string> LinesOf(std::FILE* f) {
    std::fflush(f);
    return SplitLines(ReadText("/proc/self/fd/" + std::to_string(fileno(f))));
}

class EmulatedTransport : public ::testing::Test {
protected:
    void SetUp() override {
        SetKeyboardScheduler(&scheduler_);
        SetRequestDiagnostics(diagnostics_);
        InitialConfigInto(m_Config);
        logStart_ = LogText().size();
    }
    void TearDown() override {
        SetRequestDiagnostics(stdout);
        SetKeyboardScheduler(nullptr);
        std::fclose(diagnostics_);
    }
    std::string LogText() const { return ReadText(g_args.log); }
    // The lines the keyboards logged since the test began.
    std::vector<std::string> NewLogLines() const { return SplitLines(LogText().substr(logStart_)); }
    std::vector<std::string> Diagnostics() const { return LinesOf(diagnostics_); }
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
        const auto lines = LinesOf(out);
        std::fclose(out);
        return lines;
    }
    // Each line once per keyboard, as the keyboards log them.
    static std::vector<std::string> PerKeyboard(const std::vector<std::string>& lines) {
        std::vector<std::string> out;
        for (const auto& line : lines) out.insert(out.end(), g_args.keyboards, line);
        return out;
    }

    ScopedLogCapture log_;
    SteppingScheduler scheduler_;  // the pauses pass on its clock only
    Preferences prefs_;
    std::FILE* diagnostics_ = std::tmpfile();
    size_t logStart_ = 0;
};

const std::string kLooking = "Looking for devices matching vendor ID=" + std::to_string(kQz5UsbVendorId) +
                             " and product ID=" + std::to_string(kQz5UsbProductId);

TEST_F(EmulatedTransport, EveryKeyboardGetsEachRequestByteForByte) {
    // A full download whose macros fill four data blocks, most of them 4096 bytes.
    _QZ5_PROFILE& p = m_Config.PROFILE[1];
    p.KEY[17] = 1;
    p.MAPPINGKEYINFO[0].MAPKEY_KEYCODE = 0x7B;
    m_Config.LIGHT_OPTION = {2, 1, 0, 1, 1};
    for (auto& key : {&p.TKEYINFO[0], &p.TKEYINFO[3], &p.MAPPINGKEYINFO[0], &p.MAPPINGKEYINFO[5]}) {
        key->FUNCID = 2;
        key->MACRO.LENGTH = 1200;
        for (uint32_t i = 0; i < 1200; ++i) key->MACRO.KEYMAP[i] = {i % 7 ? i % 120 + 1 : 255, i % 2};
    }
    auto calls = [this] {
        prefs_.ResetDevice();
        prefs_.SendFullDownload(1, true);
        scheduler_.RunAll();
    };
    const std::vector<std::string> printed = Printed(calls);
    ASSERT_EQ(std::count_if(printed.begin(), printed.end(), [](auto& l) { return l.rfind("40 12 ", 0) == 0; }), 4);
    logStart_ = LogText().size();
    calls();
    EXPECT_EQ(NewLogLines(), PerKeyboard(printed));
    EXPECT_EQ(Diagnostics(), std::vector<std::string>(printed.size(), kLooking));  // no failures
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--log=", 0) == 0) g_args.log = arg.substr(6);
        else if (arg.rfind("--keyboards=", 0) == 0) g_args.keyboards = std::stoi(arg.substr(12));
        else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    return RUN_ALL_TESTS();
}
