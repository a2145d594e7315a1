// The OSD display over the qz5-osd helper process: started on first use with
// a pipe to its standard input, fed one decimal code per line. When it has
// exited (no display, or the display went away) the next code after a short
// back-off starts a new one.
#include <gio/gio.h>
#include <limits.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "config/build_config.hpp"
#include "platform/log.hpp"
#include "platform/osd.hpp"

namespace {

constexpr gint64 kRestartBackoffUs = 5 * G_USEC_PER_SEC;

// qz5-osd beside our own executable (a build tree), else where it is installed.
std::string HelperPath() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        std::string dir(self);
        dir.erase(dir.rfind('/') + 1);
        for (const char* rel : {"qz5-osd", "../osd/qz5-osd"}) {
            const std::string candidate = dir + rel;
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
        }
    }
    return std::string(kQz5LibexecDir) + "/qz5-osd";
}

class HelperOsd : public OsdDisplay {
public:
    void Show(int code) override {
        LogLine("on-screen display: code %x", static_cast<unsigned>(code));
        if (!process_ && !Start()) return;
        const std::string line = std::to_string(code) + "\n";
        GError* error = nullptr;
        GOutputStream* in = g_subprocess_get_stdin_pipe(process_);
        if (!g_output_stream_write_all(in, line.data(), line.size(), nullptr, nullptr, &error) ||
            !g_output_stream_flush(in, nullptr, &error)) {
            LogLine("on-screen display: the helper is gone (%s)", error ? error->message : "?");
            g_clear_error(&error);
            Drop();
        }
    }

private:
    bool Start() {
        const gint64 now = g_get_monotonic_time();
        if (lastStart_ != 0 && now - lastStart_ < kRestartBackoffUs) return false;
        lastStart_ = now;
        const std::string path = HelperPath();
        GError* error = nullptr;
        process_ = g_subprocess_new(G_SUBPROCESS_FLAGS_STDIN_PIPE, &error, path.c_str(), nullptr);
        if (!process_) {
            LogLine("on-screen display: cannot start %s: %s", path.c_str(), error->message);
            g_error_free(error);
            return false;
        }
        g_subprocess_wait_async(process_, nullptr, &HelperOsd::Exited, this);
        return true;
    }

    static void Exited(GObject* source, GAsyncResult* result, gpointer self) {
        auto* osd = static_cast<HelperOsd*>(self);
        GSubprocess* process = G_SUBPROCESS(source);
        if (!g_subprocess_wait_finish(process, result, nullptr)) return;
        if (g_subprocess_get_if_exited(process))
            LogLine("on-screen display: qz5-osd exited with status %d%s",
                    g_subprocess_get_exit_status(process),
                    g_subprocess_get_exit_status(process) == kOsdNoDisplayStatus
                        ? " (no display to show it on)"
                        : "");
        else if (g_subprocess_get_if_signaled(process))
            LogLine("on-screen display: qz5-osd ended by signal %d", g_subprocess_get_term_sig(process));
        if (osd->process_ == process) osd->Drop();
    }

    void Drop() {
        if (process_) {
            g_object_unref(process_);
            process_ = nullptr;
        }
    }

    GSubprocess* process_ = nullptr;
    gint64 lastStart_ = 0;
};

}  // namespace

OsdDisplay& HelperProcessOsdDisplay() {
    static HelperOsd osd;
    return osd;
}
