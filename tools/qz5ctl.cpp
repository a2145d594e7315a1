// qz5ctl: the command-line settings tool.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/build_config.hpp"
#include "config/xmlconfig.hpp"
#include "keyboard/preferences.hpp"
#include "platform/log.hpp"
#include "platform/scheduler.hpp"
#include "platform/usb.hpp"
#include "tools/bus_commands.hpp"
#include "editing/editor.hpp"
#include "editing/settings_summary.hpp"

namespace {

constexpr const char* kUsage =
    "usage: qz5ctl COMMAND [ARGS...]\n"
    "\n"
    "commands:\n"
    "  settings init FILE          write the factory-default settings to FILE\n"
    "  settings normalize IN OUT   load IN as the daemon does (factory defaults when\n"
    "                              it cannot be read) and write the result to OUT\n"
    "  settings show FILE          print a summary of the settings in FILE\n"
    "  requests FILE PROFILE [--save]\n"
    "                              load FILE as the daemon does and print every USB\n"
    "                              control request of a full download of PROFILE\n"
    "                              (1-3), one line each; --save adds the save command\n"
    "  download FILE PROFILE [--save]\n"
    "                              the same full download, sent to every attached\n"
    "                              keyboard, with the keyboard's pauses\n"
    "\n"
    "commands that edit the settings, in words (each takes --file FILE and,\n"
    "where it changes something, --apply):\n"
    "%s"
    "\n"
    "commands that talk to a running qz5d (on the session bus):\n"
    "%s"
    "\n"
    "  --help                      show this text\n"
    "  --version                   print the version\n"
    "\n"
    "The daemon's settings file is $QZ5_SETTINGS_FILE when set.\n";

void PrintUsage(std::FILE* out) { std::fprintf(out, kUsage, kEditorUsage, kBusCommandsUsage); }

int Usage(const char* problem) {
    std::fprintf(stderr, "qz5ctl: %s\n", problem);
    PrintUsage(stderr);
    return 2;
}

// Loads FILE exactly as the daemon loads its settings file, into m_Config.
void LoadLikeDaemon(const std::string& path) {
    xmlconfig reader;
    xmlconfig::setConfigfileName(path);
    reader.LoadConfigFile();
}

int WriteRecord(const std::string& path) {
    xmlconfig writer;
    xmlconfig::setConfigfileName(path);
    if (writer.WriteConfigFile()) return 0;
    std::fprintf(stderr, "qz5ctl: cannot write %s\n", path.c_str());
    return 1;
}

int Settings(const std::vector<std::string>& a) {
    if (a.size() == 3 && a[1] == "init") {
        xmlconfig().InitialConfigData();
        return WriteRecord(a[2]);
    }
    if (a.size() == 4 && a[1] == "normalize") {
        LoadLikeDaemon(a[2]);
        return WriteRecord(a[3]);
    }
    if (a.size() == 3 && a[1] == "show") {
        LoadLikeDaemon(a[2]);
        std::fputs(SettingsSummary(m_Config).c_str(), stdout);
        return 0;
    }
    return Usage("settings: expected init FILE, normalize IN OUT or show FILE");
}

// The daemon's full download of one profile. With a printing bus (requests)
// each request becomes a line on standard output and nothing pauses; without
// one (download) the requests go to every attached keyboard through libusb,
// with the keyboard's pauses.
int FullDownload(const std::vector<std::string>& a, bool print) {
    const bool save = a.size() == 4 && a[3] == "--save";
    if (a.size() != 3 && !save) return Usage((a[0] + ": expected FILE PROFILE [--save]").c_str());
    if (a[2] != "1" && a[2] != "2" && a[2] != "3") return Usage((a[0] + ": PROFILE is 1, 2 or 3").c_str());
    if (!print) {
        std::vector<std::unique_ptr<UsbDevice>> keyboards;
        if (LibusbBus().Enumerate(kQz5UsbVendorId, kQz5UsbProductId, keyboards) != 0 || keyboards.empty()) {
            std::fprintf(stderr, "qz5ctl: no keyboard attached\n");
            return 1;
        }
    }
    // The object loads its settings file on construction, exactly as the
    // daemon does: point it at FILE. Its own two log lines are of no interest
    // here; the download's log lines go to standard error.
    setenv("QZ5_SETTINGS_FILE", a[1].c_str(), 1);
    const auto drop = [](const std::string&) {};
    SetLogSink(drop);
    {
        Preferences prefs;
        SetLogSink([](const std::string& line) { std::fprintf(stderr, "qz5ctl: %s\n", line.c_str()); });
        PrintingUsbBus printer(stdout);
        // No main loop here: the queue's waits are slept in place (download)
        // or only counted (requests).
        SteppingScheduler scheduler(!print);
        SetKeyboardScheduler(&scheduler);
        if (print) {
            SetUsbBus(&printer);
            SetRequestDiagnostics(nullptr);  // nothing is looked up: stdout is the request lines only
        }
        prefs.SendFullDownload(std::stoi(a[2]) - 1, save);
        scheduler.RunAll();
        SetKeyboardScheduler(nullptr);
        SetUsbBus(nullptr);
        SetRequestDiagnostics(stdout);
        SetLogSink(drop);
    }
    SetLogSink({});
    std::fflush(stdout);
    return std::ferror(stdout) ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage("missing command");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintUsage(stdout);
        return 0;
    }
    if (args[0] == "--version") {
        std::printf("qz5ctl %s\n", kQz5Version);
        return 0;
    }
    if (args[0] == "settings") return Settings(args);
    if (args[0] == "requests") return FullDownload(args, true);
    if (args[0] == "download") return FullDownload(args, false);
    if (IsEditorCommand(args)) {
        SetEditorApply(&RunBusCommand);
        return RunEditorCommand(args);
    }
    if (IsBusCommand(args[0])) return RunBusCommand(args);
    return Usage(("unknown command: " + args[0]).c_str());
}
