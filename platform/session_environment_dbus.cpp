// Where the session's environment comes from: logind (through the session
// reader), the user's service manager on the session bus (its Manager
// property "Environment"), our own environment and the runtime folder.
// logind and the manager are asked at the same time, without waiting on
// either: a slow one delays only what needs the answer.
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/session_bus.hpp"
#include "platform/session_environment.hpp"

extern char** environ;

namespace {

// A manager that is starting up may take a while; nothing waits on it but
// the program about to start.
constexpr int kManagerTimeoutMs = 5000;

std::vector<std::string> SocketsIn(const std::string& folder) {
    std::vector<std::string> out;
    if (folder.empty()) return out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.is_socket(ec)) out.push_back(entry.path().filename().string());
    return out;
}

// The sources as they arrive; the local ones are read once both questions
// are answered.
struct SourcesRead {
    std::function<void(SessionSources)> done;
    SessionSources sources;
    int waiting = 3;  // logind, the manager, and the asking itself

    void Arrived() {
        if (--waiting > 0) return;
        const std::unique_ptr<SourcesRead> owned(this);
        std::vector<std::string> own;
        for (char** e = environ; e && *e; ++e) own.emplace_back(*e);
        sources.own = ParseEnvironmentLines(own);
        std::string runtime = sources.logind ? sources.logind->runtimeDir : std::string();
        if (const char* ours = std::getenv("XDG_RUNTIME_DIR"); runtime.empty() && ours) runtime = ours;
        sources.runtimeSockets = SocketsIn(runtime);
        done(std::move(sources));
    }

    static void OnManager(GObject* source, GAsyncResult* result, gpointer data) {
        auto* read = static_cast<SourcesRead*>(data);
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
        if (reply) {
            GVariant* value = nullptr;
            g_variant_get(reply, "(v)", &value);
            g_variant_unref(reply);
            if (g_variant_is_of_type(value, G_VARIANT_TYPE("as"))) {
                auto& lines = read->sources.manager.emplace();
                GVariantIter it;
                g_variant_iter_init(&it, value);
                const gchar* line = nullptr;
                while (g_variant_iter_next(&it, "&s", &line)) lines.push_back(line);
            }
            g_variant_unref(value);
        }
        read->Arrived();
    }
};

}  // namespace

void ReadSessionSourcesAsync(std::function<void(SessionSources)> done) {
    auto* read = new SourcesRead{std::move(done), {}};
    ReadConsoleSessionAsync([read](std::optional<ConsoleSession> session) {
        read->sources.logind = std::move(session);
        read->Arrived();
    });
    if (GDBusConnection* bus = SessionManagerBus())
        g_dbus_connection_call(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                               "org.freedesktop.DBus.Properties", "Get",
                               g_variant_new("(ss)", "org.freedesktop.systemd1.Manager", "Environment"),
                               G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kManagerTimeoutMs, nullptr,
                               &SourcesRead::OnManager, read);
    else
        read->Arrived();
    read->Arrived();
}
