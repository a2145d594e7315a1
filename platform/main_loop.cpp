#include "platform/main_loop.hpp"

#include <glib-unix.h>
#include <glib.h>
#include <signal.h>

#include <optional>

#include "platform/scheduler.hpp"

namespace {

GMainLoop* g_loop = nullptr;
std::optional<int> g_pendingQuit;

gboolean OnQuitSignal(gpointer) {
    QuitMainLoop(0);
    return G_SOURCE_CONTINUE;
}

}  // namespace

int RunMainLoop() {
    g_loop = g_main_loop_new(nullptr, FALSE);
    if (!g_pendingQuit) g_main_loop_run(g_loop);
    g_main_loop_unref(g_loop);
    g_loop = nullptr;
    const int status = g_pendingQuit.value_or(0);
    g_pendingQuit.reset();
    return status;
}

void QuitMainLoop(int status) {
    if (!g_pendingQuit) g_pendingQuit = status;
    if (g_loop) g_main_loop_quit(g_loop);
}

void AddMainLoopTimeout(unsigned intervalMs, std::function<bool()> tick) {
    auto* fn = new std::function<bool()>(std::move(tick));
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, intervalMs,
        [](gpointer data) -> gboolean {
            return (*static_cast<std::function<bool()>*>(data))() ? G_SOURCE_CONTINUE
                                                                  : G_SOURCE_REMOVE;
        },
        fn, [](gpointer data) { delete static_cast<std::function<bool()>*>(data); });
}

void InstallQuitSignals() {
    signal(SIGPIPE, SIG_IGN);
    g_unix_signal_add(SIGTERM, OnQuitSignal, nullptr);
    g_unix_signal_add(SIGINT, OnQuitSignal, nullptr);
}

namespace {

class MainLoopScheduler : public Scheduler {
public:
    ~MainLoopScheduler() override { Disarm(); }

    void Arm(unsigned usec, std::function<void()> fn) override {
        Disarm();
        fn_ = std::move(fn);
        // Rounded up: a keyboard's pause is never cut short.
        source_ = g_timeout_add_full(G_PRIORITY_DEFAULT, (usec + 999) / 1000, &MainLoopScheduler::Fire, this,
                                     nullptr);
    }

    void Disarm() override {
        if (source_ != 0) g_source_remove(source_);
        source_ = 0;
        fn_ = nullptr;
    }

    int64_t NowUs() override { return g_get_monotonic_time(); }

private:
    static gboolean Fire(gpointer data) {
        auto* self = static_cast<MainLoopScheduler*>(data);
        self->source_ = 0;
        std::function<void()> fn = std::move(self->fn_);
        self->fn_ = nullptr;
        if (fn) fn();
        return G_SOURCE_REMOVE;
    }

    guint source_ = 0;
    std::function<void()> fn_;
};

}  // namespace

std::unique_ptr<Scheduler> MakeMainLoopScheduler() { return std::make_unique<MainLoopScheduler>(); }
