#include "platform/session_launch.hpp"

#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "platform/launch_plan.hpp"
#include "platform/log.hpp"
#include "platform/session_bus.hpp"

namespace {

constexpr int kManagerTimeoutMs = 5000;

struct Pending {
    SessionCommand command;
    SessionEnvironment env;
    SessionStarted done;
    std::string unit;
};

std::string RandomPart() {
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", g_random_int(), g_random_int());
    return text;
}

std::string SessionPath(const SessionEnvironment& env) {
    if (!env.Get("PATH").empty()) return env.Get("PATH");
    const char* own = g_getenv("PATH");
    return own ? own : "/usr/local/bin:/usr/bin:/bin";
}

void Reap(GSubprocess* child) {
    g_subprocess_wait_async(child, nullptr, [](GObject* c, GAsyncResult* r, gpointer) {
        g_subprocess_wait_finish(G_SUBPROCESS(c), r, nullptr);
    }, nullptr);
}

void StartDirectly(Pending& p) {
    const std::string program = FindProgram(p.command.argv.front(), SessionPath(p.env));
    if (program.empty()) {
        LogLine("cannot start %s: %s is not a program", p.command.name.c_str(), p.command.argv.front().c_str());
        if (p.command.stdinFd >= 0) close(p.command.stdinFd);
        p.done(false, nullptr);
        return;
    }
    // Our own children write to our standard error, as they always have.
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE);
    if (p.command.stdinFd >= 0) g_subprocess_launcher_take_stdin_fd(launcher, p.command.stdinFd);
    p.command.stdinFd = -1;
    for (const auto& [name, value] : p.env.vars) g_subprocess_launcher_setenv(launcher, name.c_str(), value.c_str(), TRUE);
    const std::string folder = p.command.folder.empty() ? g_get_home_dir() : p.command.folder;
    g_subprocess_launcher_set_cwd(launcher, folder.c_str());
    std::vector<const gchar*> argv{program.c_str()};
    for (size_t i = 1; i < p.command.argv.size(); ++i) argv.push_back(p.command.argv[i].c_str());
    argv.push_back(nullptr);
    GError* error = nullptr;
    GSubprocess* child = g_subprocess_launcher_spawnv(launcher, argv.data(), &error);
    g_object_unref(launcher);
    if (!child) {
        LogLine("cannot start %s: %s", p.command.name.c_str(), error->message);
        g_error_free(error);
        p.done(false, nullptr);
        return;
    }
    LogLine("started %s as process %s", p.command.name.c_str(), g_subprocess_get_identifier(child));
    p.done(true, child);
    Reap(child);
    g_object_unref(child);
}

GVariant* UnitProperties(const Pending& p, const std::string& program, bool withStdin) {
    GVariantBuilder props;
    g_variant_builder_init(&props, G_VARIANT_TYPE("a(sv)"));
    const std::string description = "qz5d: " + p.command.name;
    g_variant_builder_add(&props, "(sv)", "Description", g_variant_new_string(description.c_str()));
    GVariantBuilder argv;
    g_variant_builder_init(&argv, G_VARIANT_TYPE("as"));
    for (const auto& arg : p.command.argv) g_variant_builder_add(&argv, "s", arg.c_str());
    GVariantBuilder exec;
    g_variant_builder_init(&exec, G_VARIANT_TYPE("a(sasb)"));
    g_variant_builder_add(&exec, "(sasb)", program.c_str(), &argv, FALSE);
    g_variant_builder_add(&props, "(sv)", "ExecStart", g_variant_builder_end(&exec));
    if (!p.command.folder.empty())
        g_variant_builder_add(&props, "(sv)", "WorkingDirectory", g_variant_new_string(p.command.folder.c_str()));
    GVariantBuilder env;
    g_variant_builder_init(&env, G_VARIANT_TYPE("as"));
    for (const auto& [name, value] : p.env.vars) g_variant_builder_add(&env, "s", (name + "=" + value).c_str());
    g_variant_builder_add(&props, "(sv)", "Environment", g_variant_builder_end(&env));
    g_variant_builder_add(&props, "(sv)", "Slice", g_variant_new_string("app.slice"));
    g_variant_builder_add(&props, "(sv)", "Type", g_variant_new_string("exec"));
    // The unit lasts while any of its processes does: a program that hands
    // over to a child and ends keeps that child.
    g_variant_builder_add(&props, "(sv)", "ExitType", g_variant_new_string("cgroup"));
    g_variant_builder_add(&props, "(sv)", "CollectMode", g_variant_new_string("inactive-or-failed"));
    if (withStdin) g_variant_builder_add(&props, "(sv)", "StandardInputFileDescriptor", g_variant_new_handle(0));
    if (p.command.shareStderr)
        g_variant_builder_add(&props, "(sv)", "StandardErrorFileDescriptor", g_variant_new_handle(withStdin ? 1 : 0));
    return g_variant_builder_end(&props);
}

void OnUnitStarted(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Pending> p(static_cast<Pending*>(data));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source), nullptr, result, &error);
    if (reply) {
        g_variant_unref(reply);
        LogLine("started %s as %s of the user's service manager", p->command.name.c_str(), p->unit.c_str());
        if (p->command.stdinFd >= 0) close(p->command.stdinFd);
        p->done(true, nullptr);
        return;
    }
    gchar* remote = g_dbus_error_get_remote_error(error);
    g_dbus_error_strip_remote_error(error);
    LogLine("the user's service manager did not start %s (%s: %s); starting it directly", p->command.name.c_str(),
            remote ? remote : "error", error->message);
    g_free(remote);
    g_error_free(error);
    StartDirectly(*p);
}

}  // namespace

void StartInSession(SessionCommand command, const SessionEnvironment& env, SessionStarted done) {
    auto p = std::make_unique<Pending>(Pending{std::move(command), env, std::move(done), {}});
    if (p->command.argv.empty()) {
        if (p->command.stdinFd >= 0) close(p->command.stdinFd);
        p->done(false, nullptr);
        return;
    }
    GDBusConnection* bus = env.managerAnswered ? SessionManagerBus() : nullptr;
    const std::string program = FindProgram(p->command.argv.front(), SessionPath(p->env));
    if (!bus || program.empty()) return StartDirectly(*p);

    p->unit = LaunchUnitName(p->command.name, RandomPart());
    GUnixFDList* fds = g_unix_fd_list_new();
    const bool withStdin = p->command.stdinFd >= 0;
    if (withStdin) g_unix_fd_list_append(fds, p->command.stdinFd, nullptr);
    if (p->command.shareStderr) g_unix_fd_list_append(fds, STDERR_FILENO, nullptr);
    GVariant* args = g_variant_new("(ss@a(sv)@a(sa(sv)))", p->unit.c_str(), "fail",
                                   UnitProperties(*p, program, withStdin), g_variant_new_array(G_VARIANT_TYPE("(sa(sv))"), nullptr, 0));
    g_dbus_connection_call_with_unix_fd_list(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                                             "org.freedesktop.systemd1.Manager", "StartTransientUnit", args,
                                             G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kManagerTimeoutMs,
                                             fds, nullptr, OnUnitStarted, p.release());
    g_object_unref(fds);
}
