// Where the session's environment comes from: logind (through the session
// reader), the user's service manager on the session bus (its Manager
// property "Environment"), our own environment and the runtime folder.
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/session_bus.hpp"
#include "platform/session_environment.hpp"

extern char** environ;

namespace {

constexpr int kManagerTimeoutMs = 1000;

std::optional<std::vector<std::string>> ManagerEnvironment() {
    GDBusConnection* bus = SessionManagerBus();
    if (!bus) return std::nullopt;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1", "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.freedesktop.systemd1.Manager", "Environment"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, kManagerTimeoutMs, nullptr, nullptr);
    if (!reply) return std::nullopt;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    g_variant_unref(reply);
    std::optional<std::vector<std::string>> lines;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE("as"))) {
        lines.emplace();
        GVariantIter it;
        g_variant_iter_init(&it, value);
        const gchar* line = nullptr;
        while (g_variant_iter_next(&it, "&s", &line)) lines->push_back(line);
    }
    g_variant_unref(value);
    return lines;
}

std::vector<std::string> SocketsIn(const std::string& folder) {
    std::vector<std::string> out;
    if (folder.empty()) return out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.is_socket(ec)) out.push_back(entry.path().filename().string());
    return out;
}

}  // namespace

SessionSources ReadSessionSources() {
    SessionSources sources;
    ConsoleSession session;
    if (CurrentSessionReader()(session)) sources.logind = session;
    sources.manager = ManagerEnvironment();
    std::vector<std::string> own;
    for (char** e = environ; e && *e; ++e) own.emplace_back(*e);
    sources.own = ParseEnvironmentLines(own);
    std::string runtime = sources.logind ? sources.logind->runtimeDir : std::string();
    if (const char* own = std::getenv("XDG_RUNTIME_DIR"); runtime.empty() && own) runtime = own;
    sources.runtimeSockets = SocketsIn(runtime);
    return sources;
}
