// qz5-emulator: runs a command against emulated QZ5 keyboards.
//
//   qz5-emulator [--log FILE] [--control FIFO] [--profile N] [--light N]
//                [--unplugged] [--keyboards N] -- COMMAND [ARGS...]
//
// The keyboards live in a umockdev testbed; COMMAND runs with the umockdev
// preload library and sees them as USB devices, hidraw nodes and uevents.
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/emulator/emulated_keyboards.hpp"

namespace {

constexpr const char* kPreload = "libumockdev-preload.so.0";

constexpr const char* kUsage =
    "usage: qz5-emulator [--log FILE] [--control FIFO] [--profile N] [--light N]\n"
    "                    [--unplugged] [--keyboards N] -- COMMAND [ARGS...]\n"
    "\n"
    "Runs COMMAND against emulated QZ5 keyboards and exits with its status.\n"
    "  --log FILE       write every control request the keyboards receive to FILE\n"
    "  --control FIFO   read commands from FIFO (made when missing), one a line:\n"
    "                   report T B0..B7 | report2 T B0..B7 | unplug | plug\n"
    "  --profile N      current profile the keyboards report (default 1)\n"
    "  --light N        light level the keyboards report (default 0)\n"
    "  --unplugged      start with the keyboards unplugged\n"
    "  --keyboards N    number of keyboards (default 1)\n";

struct Options {
    EmulatedKeyboardsOptions emulation;
    std::string controlFifo;
    std::vector<char*> command;
};

int Usage(const std::string& problem) {
    std::fprintf(stderr, "qz5-emulator: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

bool ParseNumber(const char* text, long min, long max, long& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 0);
    if (errno != 0 || end == text || *end != 0 || v < min || v > max) return false;
    out = v;
    return true;
}

// Returns an empty string when the arguments are good.
std::string ParseArgs(int argc, char** argv, Options& opts) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (arg == "--help") return "help";
        if (arg == "--unplugged") {
            opts.emulation.unplugged = true;
            continue;
        }
        if (i + 1 >= argc) return "missing value or unknown option: " + arg;
        const char* value = argv[++i];
        long n = 0;
        if (arg == "--log") {
            opts.emulation.logFile = value;
        } else if (arg == "--control") {
            opts.controlFifo = value;
        } else if (arg == "--profile" && ParseNumber(value, 0, 255, n)) {
            opts.emulation.profile = static_cast<uint8_t>(n);
        } else if (arg == "--light" && ParseNumber(value, 0, 255, n)) {
            opts.emulation.light = static_cast<uint8_t>(n);
        } else if (arg == "--keyboards" && ParseNumber(value, 1, 16, n)) {
            opts.emulation.keyboards = static_cast<int>(n);
        } else {
            return "bad option: " + arg + " " + value;
        }
    }
    if (i >= argc - 1) return "no command given after --";
    for (++i; i < argc; ++i) opts.command.push_back(argv[i]);
    opts.command.push_back(nullptr);
    return "";
}

// The testbed needs the preload library in this process too; start over
// with it when it is missing. The command inherits the environment.
void EnsurePreloaded(char** argv) {
    const char* current = std::getenv("LD_PRELOAD");
    if (current && std::strstr(current, "libumockdev-preload")) return;
    std::string preload = kPreload;
    if (current && *current) preload += std::string(":") + current;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    // A sanitized program refuses to start when another library is
    // preloaded ahead of its runtime.
    std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    if (asan.find("verify_asan_link_order") == std::string::npos) {
        if (!asan.empty()) asan += ":";
        asan += "verify_asan_link_order=0";
        setenv("ASAN_OPTIONS", asan.c_str(), 1);
    }
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "qz5-emulator: cannot restart with %s: %s\n", kPreload, std::strerror(errno));
    std::exit(1);
}

struct Run {
    EmulatedKeyboards keyboards;
    GMainLoop* loop = nullptr;
    pid_t child = -1;
    int status = 0;
    bool childDone = false;
    int pendingSignal = 0;
    int controlFd = -1;
    std::string controlBuffer;
};

struct SignalForward {
    Run* run;
    int signal;
};

gboolean ForwardSignal(gpointer data) {
    auto* fwd = static_cast<SignalForward*>(data);
    if (fwd->run->child > 0 && !fwd->run->childDone)
        ::kill(fwd->run->child, fwd->signal);
    else
        fwd->run->pendingSignal = fwd->signal;
    return G_SOURCE_CONTINUE;
}

void OnChildExit(GPid, gint status, gpointer data) {
    auto* run = static_cast<Run*>(data);
    run->status = status;
    run->childDone = true;
    g_main_loop_quit(run->loop);
}

gboolean OnControl(gint fd, GIOCondition, gpointer data) {
    auto* run = static_cast<Run*>(data);
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        run->controlBuffer.append(buf, static_cast<size_t>(n));
    }
    size_t nl;
    while ((nl = run->controlBuffer.find('\n')) != std::string::npos) {
        std::string line = run->controlBuffer.substr(0, nl);
        run->controlBuffer.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        if (const auto done = run->keyboards.Execute(line))
            std::fprintf(stderr, "qz5-emulator: ok: %s\n", line.c_str());
        else
            std::fprintf(stderr, "qz5-emulator: failed: %s: %s\n", line.c_str(), done.error().c_str());
    }
    return G_SOURCE_CONTINUE;
}

bool OpenControl(Run& run, const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (::mkfifo(path.c_str(), 0600) != 0) {
            std::fprintf(stderr, "qz5-emulator: cannot make %s: %s\n", path.c_str(), std::strerror(errno));
            return false;
        }
    } else if (!S_ISFIFO(st.st_mode)) {
        std::fprintf(stderr, "qz5-emulator: %s is not a FIFO\n", path.c_str());
        return false;
    }
    // Open for writing too, so that writers coming and going never look
    // like an end of file.
    run.controlFd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (run.controlFd < 0) {
        std::fprintf(stderr, "qz5-emulator: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    g_unix_fd_add(run.controlFd, G_IO_IN, OnControl, &run);
    return true;
}

int ExitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options opts;
    const std::string problem = ParseArgs(argc, argv, opts);
    if (problem == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!problem.empty()) return Usage(problem);
    EnsurePreloaded(argv);

    Run run;
    if (const auto started = run.keyboards.Start(opts.emulation); !started) {
        std::fprintf(stderr, "qz5-emulator: %s\n", started.error().c_str());
        return 1;
    }
    run.loop = g_main_loop_new(nullptr, FALSE);
    if (!opts.controlFifo.empty() && !OpenControl(run, opts.controlFifo)) {
        run.keyboards.Stop();
        return 1;
    }
    SignalForward forwards[] = {{&run, SIGTERM}, {&run, SIGINT}, {&run, SIGHUP}};
    for (auto& fwd : forwards) g_unix_signal_add(fwd.signal, ForwardSignal, &fwd);

    const pid_t parent = ::getpid();
    run.child = ::fork();
    if (run.child < 0) {
        std::fprintf(stderr, "qz5-emulator: fork: %s\n", std::strerror(errno));
        run.keyboards.Stop();
        return 1;
    }
    if (run.child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) signal(sig, SIG_DFL);
        execvp(opts.command[0], opts.command.data());
        std::fprintf(stderr, "qz5-emulator: cannot run %s: %s\n", opts.command[0], std::strerror(errno));
        _exit(127);
    }
    g_child_watch_add(run.child, OnChildExit, &run);
    if (run.pendingSignal) ::kill(run.child, run.pendingSignal);
    g_main_loop_run(run.loop);

    run.keyboards.Stop();
    if (run.controlFd >= 0) ::close(run.controlFd);
    g_main_loop_unref(run.loop);
    return ExitCode(run.status);
}
