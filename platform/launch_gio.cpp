// The launcher over GIO: never through a shell.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/launch.hpp"
#include "platform/log.hpp"

namespace {

Launcher* g_launcher = nullptr;

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void LogFailure(const std::string& path, GError* error) {
    LogLine("cannot open %s: %s", path.c_str(), error ? error->message : "unknown failure");
    g_clear_error(&error);
}

class GioLauncher : public Launcher {
public:
    bool Exists(const std::string& path) override {
        struct stat st {};
        return !path.empty() && ::stat(path.c_str(), &st) == 0;
    }

    void Open(const std::string& path) override {
        GError* error = nullptr;
        struct stat st {};
        if (EndsWith(path, ".desktop")) {
            GDesktopAppInfo* app = g_desktop_app_info_new_from_filename(path.c_str());
            if (!app) {
                LogLine("cannot open %s: not a usable desktop entry", path.c_str());
                return;
            }
            if (!g_app_info_launch(G_APP_INFO(app), nullptr, nullptr, &error)) LogFailure(path, error);
            g_object_unref(app);
        } else if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0) {
            GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE);
            gchar* folder = g_path_get_dirname(path.c_str());
            g_subprocess_launcher_set_cwd(launcher, folder);
            g_free(folder);
            const gchar* argv[] = {path.c_str(), nullptr};
            GSubprocess* child = g_subprocess_launcher_spawnv(launcher, argv, &error);
            g_object_unref(launcher);
            if (!child) return LogFailure(path, error);
            // Reaped when it ends; never waited for.
            g_subprocess_wait_async(child, nullptr, [](GObject* c, GAsyncResult* r, gpointer) {
                g_subprocess_wait_finish(G_SUBPROCESS(c), r, nullptr);
            }, nullptr);
            g_object_unref(child);
        } else {
            GFile* file = g_file_new_for_path(path.c_str());
            gchar* uri = g_file_get_uri(file);
            g_object_unref(file);
            if (!g_app_info_launch_default_for_uri(uri, nullptr, &error)) LogFailure(path, error);
            g_free(uri);
        }
    }
};

}  // namespace

void SetLauncher(Launcher* launcher) { g_launcher = launcher; }

Launcher& CurrentLauncher() {
    static GioLauncher gio;
    return g_launcher ? *g_launcher : gio;
}
