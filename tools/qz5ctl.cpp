// qz5ctl: the command-line settings tool.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/xmlconfig.hpp"
#include "tools/settings_summary.hpp"

namespace {

constexpr const char* kUsage =
    "usage: qz5ctl COMMAND [ARGS...]\n"
    "\n"
    "commands:\n"
    "  settings init FILE          write the factory-default settings to FILE\n"
    "  settings normalize IN OUT   load IN as the daemon does (factory defaults when\n"
    "                              it cannot be read) and write the result to OUT\n"
    "  settings show FILE          print a summary of the settings in FILE\n"
    "  --help                      show this text\n"
    "\n"
    "The daemon's settings file is $QZ5_SETTINGS_FILE when set.\n";

int Usage(const char* problem) {
    std::fprintf(stderr, "qz5ctl: %s\n%s", problem, kUsage);
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

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage("missing command");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args[0] == "settings") return Settings(args);
    return Usage(("unknown command: " + args[0]).c_str());
}
