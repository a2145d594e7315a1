#include "platform/session_environment.hpp"

#include <algorithm>

#include "platform/log.hpp"

namespace {

bool IsWaylandSocketName(const std::string& name) {
    if (name.rfind("wayland-", 0) != 0 || name.size() == 8) return false;
    return std::all_of(name.begin() + 8, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The callers of the lookup under way, in the order they asked.
std::vector<SessionEnvironmentReady> g_waiting;
bool g_lookingUp = false;

void LogDisplay(const SessionEnvironment& env) {
    static std::string logged;
    std::string summary = env.DisplaySummary();
    summary += env.managerAnswered ? ", from the user's service manager" : ", without a user service manager";
    if (summary != logged) {
        LogLine("session display: %s", summary.c_str());
        logged = summary;
    }
}

}  // namespace

std::string SessionEnvironment::Get(const std::string& name) const {
    const auto it = vars.find(name);
    return it == vars.end() ? std::string() : it->second;
}

std::string SessionEnvironment::DisplaySummary() const {
    std::string out;
    for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"}) {
        const std::string value = Get(name);
        if (value.empty()) continue;
        if (!out.empty()) out += ' ';
        out += std::string(name) + "=" + value;
    }
    if (out.empty()) out = "none";
    const std::string type = Get("XDG_SESSION_TYPE");
    if (!type.empty()) out += " (session type " + type + ")";
    return out;
}

EnvironmentMap ParseEnvironmentLines(const std::vector<std::string>& lines) {
    EnvironmentMap out;
    for (const auto& line : lines) {
        const auto eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

SessionEnvironment ResolveSessionEnvironment(const SessionSources& sources) {
    SessionEnvironment env;
    if (sources.manager) {
        env.vars = ParseEnvironmentLines(*sources.manager);
        env.managerAnswered = true;
    }
    auto fill = [&env](const char* name, const std::string& value) {
        if (value.empty()) return;
        auto& slot = env.vars[name];
        if (slot.empty()) slot = value;
    };
    for (const char* name : kSessionDisplayVariables) {
        const auto it = sources.own.find(name);
        if (it != sources.own.end()) fill(name, it->second);
    }
    if (sources.logind) {
        fill("DISPLAY", sources.logind->display);
        fill("XDG_SESSION_TYPE", sources.logind->type);
        fill("XDG_RUNTIME_DIR", sources.logind->runtimeDir);
    }
    if (env.Get("WAYLAND_DISPLAY").empty() && env.Get("XDG_SESSION_TYPE") == "wayland") {
        std::vector<std::string> sockets;
        for (const auto& name : sources.runtimeSockets)
            if (IsWaylandSocketName(name)) sockets.push_back(name);
        // wayland-0 before wayland-1 before wayland-10.
        std::sort(sockets.begin(), sockets.end(), [](const std::string& a, const std::string& b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
        if (!sockets.empty()) env.vars["WAYLAND_DISPLAY"] = sockets.front();
    }
    // An empty value names nothing; leaving it out keeps a plain environment's own.
    std::erase_if(env.vars, [](const auto& kv) {
        const auto& names = kSessionDisplayVariables;
        return kv.second.empty() && std::find(std::begin(names), std::end(names), kv.first) != std::end(names);
    });
    return env;
}

void LookUpSessionEnvironment(SessionEnvironmentReady done) {
    g_waiting.push_back(std::move(done));
    if (g_lookingUp) return;
    g_lookingUp = true;
    ReadSessionSourcesAsync([](SessionSources sources) {
        const SessionEnvironment env = ResolveSessionEnvironment(sources);
        LogDisplay(env);
        // A done that asks again starts the next lookup.
        std::vector<SessionEnvironmentReady> waiting;
        waiting.swap(g_waiting);
        g_lookingUp = false;
        for (auto& ready : waiting) ready(env);
    });
}
