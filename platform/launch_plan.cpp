#include "platform/launch_plan.hpp"

#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Quoted(const std::string& value) {
    gchar* q = g_shell_quote(value.c_str());
    std::string out(q);
    g_free(q);
    return out;
}

std::string Uri(const std::string& path) {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    std::string out = uri ? uri : path;
    g_free(uri);
    return out;
}

}  // namespace

std::optional<std::vector<std::string>> ExpandDesktopExec(const DesktopEntryFields& entry,
                                                          const std::vector<std::string>& files) {
    std::string line;
    const std::string& exec = entry.exec;
    for (size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] != '%' || i + 1 == exec.size()) {
            line += exec[i];
            continue;
        }
        const char code = exec[++i];
        auto all = [&](bool uris) {
            for (size_t n = 0; n < files.size(); ++n) {
                if (n) line += ' ';
                line += Quoted(uris ? Uri(files[n]) : files[n]);
            }
        };
        switch (code) {
            case 'f': if (!files.empty()) line += Quoted(files.front()); break;
            case 'u': if (!files.empty()) line += Quoted(Uri(files.front())); break;
            case 'F': all(false); break;
            case 'U': all(true); break;
            case 'i':
                if (!entry.icon.empty()) line.append("--icon ").append(Quoted(entry.icon));
                break;
            case 'c': line += Quoted(entry.name); break;
            case 'k': line += Quoted(entry.location); break;
            case '%': line += '%'; break;
            default: break;  // deprecated and unknown codes are dropped
        }
    }
    gint argc = 0;
    gchar** argv = nullptr;
    if (!g_shell_parse_argv(line.c_str(), &argc, &argv, nullptr)) return std::nullopt;
    std::vector<std::string> out(argv, argv + argc);
    g_strfreev(argv);
    return out;
}

std::string LaunchUnitName(const std::string& name, const std::string& random) {
    std::string safe;
    for (const char c : name)
        safe += (g_ascii_isalnum(c) || c == ':' || c == '_' || c == '.' || c == '-') ? c : '_';
    if (safe.empty()) safe = "program";
    std::string unit = "app-qz5d-";
    unit.append(safe).append("@").append(random).append(".service");
    return unit;
}

std::string FindProgram(const std::string& program, const std::string& path) {
    auto runnable = [](const std::string& p) {
        struct stat st {};
        return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
    };
    if (program.find('/') != std::string::npos) return runnable(program) ? program : std::string();
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        const std::string folder = end > start ? path.substr(start, end - start) : ".";
        std::string candidate = folder;
        candidate.append("/").append(program);
        if (runnable(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}
