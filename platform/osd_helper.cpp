// The OSD display over the qz5-osd helper process: started when the daemon
// is ready (Prepare) in the user's session (session_launch.cpp) with a pipe
// to its standard input, fed one decimal code per line. When it has ended
// (no display, or the display went away) the next code after a short
// back-off starts a new one; so does a code that finds the session's display
// changed since the helper started (a desktop that came up after the login).
// The session is looked up without waiting; a code never waits for it when a
// helper runs.
// The helper inherits QZ5_OSD_BACKEND, which forces how it shows itself.
#include <gio/gio.h>
#include <gio/gunixoutputstream.h>
#include <glib-unix.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/build_config.hpp"
#include "platform/log.hpp"
#include "platform/osd.hpp"
#include "platform/session_launch.hpp"

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
        // A running helper gets the code before the session is looked up, so
        // that the lookup never delays the picture; when the display changed,
        // a new helper shows it again. The codes since the lookup began wait
        // for a helper about to start.
        if (input_) Write(code);
        codes_.push_back(code);
        LookUp();
    }

    void Prepare() override {
        if (input_) return;
        readyStart_ = true;
        LookUp();
    }

private:
    // One lookup at a time: codes that come meanwhile are in codes_.
    void LookUp() {
        if (lookingUp_) return;
        lookingUp_ = true;
        LookUpSessionEnvironment([this](const SessionEnvironment& env) { Found(env); });
    }

    void Found(const SessionEnvironment& env) {
        lookingUp_ = false;
        std::vector<int> codes;
        codes.swap(codes_);
        const bool backOff = !readyStart_;
        readyStart_ = false;
        if (input_ && env.DisplaySummary() != display_) {
            LogLine("on-screen display: the session's display changed; qz5-osd starts again");
            Drop();
            lastStart_ = 0;
        } else if (input_) {
            return;  // it has shown every code already
        }
        // A start for codes backs off; the one the daemon asks for when ready does not.
        if (!Start(env, backOff)) return;
        for (const int code : codes) Write(code);
    }

    void Write(int code) {
        if (!input_) return;
        const std::string line = std::to_string(code) + "\n";
        GError* error = nullptr;
        if (!g_output_stream_write_all(input_, line.data(), line.size(), nullptr, nullptr, &error) ||
            !g_output_stream_flush(input_, nullptr, &error)) {
            LogLine("on-screen display: the helper is gone (%s)", error ? error->message : "?");
            g_clear_error(&error);
            Drop();
        }
    }

    // backOff: a helper that ended less than the back-off ago is not started
    // again, and this start counts for the next.
    bool Start(SessionEnvironment env, bool backOff) {
        if (backOff) {
            const gint64 now = g_get_monotonic_time();
            if (lastStart_ != 0 && now - lastStart_ < kRestartBackoffUs) return false;
            lastStart_ = now;
        }
        int fds[2];
        if (!g_unix_open_pipe(fds, FD_CLOEXEC, nullptr)) {
            LogLine("on-screen display: no pipe to the helper: %s", std::strerror(errno));
            return false;
        }
        input_ = g_unix_output_stream_new(fds[1], TRUE);
        // The helper closing its end (it ended, wherever it runs) shows here.
        closedWatch_ = g_unix_fd_add(fds[1], static_cast<GIOCondition>(G_IO_ERR | G_IO_HUP), &HelperOsd::Closed, this);
        display_ = env.DisplaySummary();
        if (const char* backend = std::getenv("QZ5_OSD_BACKEND"); backend && *backend)
            env.vars["QZ5_OSD_BACKEND"] = backend;
        SessionCommand command{"qz5-osd", {HelperPath()}, {}, fds[0], true};
        const unsigned generation = ++generation_;
        StartInSession(std::move(command), env, [this, generation](bool started, GSubprocess* child) {
            if (generation != generation_) return;
            if (!started) return Drop();
            if (child) g_subprocess_wait_async(child, nullptr, &HelperOsd::Exited, this);
        });
        return input_ != nullptr;
    }

    static gboolean Closed(gint, GIOCondition, gpointer self) {
        auto* osd = static_cast<HelperOsd*>(self);
        osd->closedWatch_ = 0;
        LogLine("on-screen display: qz5-osd closed its input");
        osd->Drop();
        return G_SOURCE_REMOVE;
    }

    static void Exited(GObject* source, GAsyncResult* result, gpointer) {
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
    }

    void Drop() {
        if (closedWatch_) g_source_remove(closedWatch_);
        closedWatch_ = 0;
        g_clear_object(&input_);
    }

    GOutputStream* input_ = nullptr;
    std::string display_;  // the session's display when the helper started
    guint closedWatch_ = 0;
    unsigned generation_ = 0;
    gint64 lastStart_ = 0;
    bool lookingUp_ = false;
    bool readyStart_ = false;  // the lookup under way is for the start when ready
    std::vector<int> codes_;  // shown or to show since the lookup under way began
};

}  // namespace

OsdDisplay& HelperProcessOsdDisplay() {
    static HelperOsd osd;
    return osd;
}
