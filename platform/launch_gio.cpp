// The launcher: works out the command line with GIO (desktop entries, the
// default application of a document's type) and starts it in the user's
// session (session_launch.cpp) once the session's environment has been
// looked up. Never through a shell.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/launch.hpp"
#include "platform/launch_plan.hpp"
#include "platform/log.hpp"
#include "platform/session_launch.hpp"

namespace {

Launcher* g_launcher = nullptr;

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Text(gchar* owned) {
    std::string out = owned ? owned : "";
    g_free(owned);
    return out;
}

// The command line of a desktop entry for files; false (logged) when it has none.
bool FromDesktopEntry(GDesktopAppInfo* app, const std::string& what, const std::vector<std::string>& files,
                      SessionCommand& command) {
    DesktopEntryFields entry;
    entry.exec = Text(g_desktop_app_info_get_string(app, "Exec"));
    entry.name = g_app_info_get_name(G_APP_INFO(app)) ? g_app_info_get_name(G_APP_INFO(app)) : "";
    entry.icon = Text(g_desktop_app_info_get_string(app, "Icon"));
    if (const char* file = g_desktop_app_info_get_filename(app)) entry.location = file;
    auto argv = ExpandDesktopExec(entry, files);
    if (!argv || argv->empty()) {
        LogLine("cannot open %s: its desktop entry has no usable Exec line", what.c_str());
        return false;
    }
    command.argv = std::move(*argv);
    command.folder = Text(g_desktop_app_info_get_string(app, "Path"));
    std::string id = g_app_info_get_id(G_APP_INFO(app)) ? g_app_info_get_id(G_APP_INFO(app)) : "";
    if (id.empty()) id = Text(g_path_get_basename(entry.location.c_str()));
    if (EndsWith(id, ".desktop")) id.erase(id.size() - 8);
    command.name = id;
    return true;
}

std::string ContentType(const std::string& path) {
    GFile* file = g_file_new_for_path(path.c_str());
    GFileInfo* info = g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE, G_FILE_QUERY_INFO_NONE,
                                        nullptr, nullptr);
    g_object_unref(file);
    std::string type;
    if (info) {
        if (const char* t = g_file_info_get_content_type(info)) type = t;
        g_object_unref(info);
    }
    return type;
}

class GioLauncher : public Launcher {
public:
    bool Exists(const std::string& path) override {
        struct stat st {};
        return !path.empty() && ::stat(path.c_str(), &st) == 0;
    }

    void Open(const std::string& path) override {
        SessionCommand command;
        struct stat st {};
        if (EndsWith(path, ".desktop")) {
            GDesktopAppInfo* app = g_desktop_app_info_new_from_filename(path.c_str());
            if (!app) {
                LogLine("cannot open %s: not a usable desktop entry", path.c_str());
                return;
            }
            const bool ok = FromDesktopEntry(app, path, {}, command);
            g_object_unref(app);
            if (!ok) return;
        } else if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0) {
            command.name = Text(g_path_get_basename(path.c_str()));
            command.argv = {path};
            command.folder = Text(g_path_get_dirname(path.c_str()));
        } else {
            const std::string type = ContentType(path);
            GAppInfo* app = type.empty() ? nullptr : g_app_info_get_default_for_type(type.c_str(), FALSE);
            if (!app) {
                LogLine("cannot open %s: no application opens %s", path.c_str(),
                        type.empty() ? "files of unknown type" : type.c_str());
                return;
            }
            const bool ok = G_IS_DESKTOP_APP_INFO(app) &&
                            FromDesktopEntry(G_DESKTOP_APP_INFO(app), path, {path}, command);
            g_object_unref(app);
            if (!ok) return;
        }
        // Lookups run one at a time and answer in the order asked: keys
        // pressed quickly launch in order.
        LookUpSessionEnvironment([command = std::move(command)](const SessionEnvironment& env) mutable {
            StartInSession(std::move(command), env, [](bool, GSubprocess*) {});
        });
    }
};

}  // namespace

void SetLauncher(Launcher* launcher) { g_launcher = launcher; }

Launcher& CurrentLauncher() {
    static GioLauncher gio;
    return g_launcher ? *g_launcher : gio;
}
