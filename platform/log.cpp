#include "platform/log.hpp"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

LogSink& Sink() {
    static LogSink sink;
    return sink;
}

// Whether standard error goes to the journal already (systemd says so in
// JOURNAL_STREAM): then the syslog line is the one copy there.
bool StderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat st {};
    unsigned long long dev = 0, ino = 0;
    return stream && std::sscanf(stream, "%llu:%llu", &dev, &ino) == 2 && fstat(STDERR_FILENO, &st) == 0 &&
           st.st_dev == dev && st.st_ino == ino;
}

void SystemLog(const std::string& line) {
    static bool opened = false;
    static bool mirror = true;
    if (!opened) {
        openlog(program_invocation_short_name, LOG_PID, LOG_DAEMON);
        mirror = !StderrIsJournal();
        opened = true;
    }
    syslog(LOG_NOTICE, "%s", line.c_str());
    if (!mirror) return;
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace

void SetLogSink(LogSink sink) { Sink() = std::move(sink); }

void LogLine(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list copy;
    va_copy(copy, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string line(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(line.data(), line.size() + 1, fmt, ap);
    va_end(ap);
    if (Sink())
        Sink()(line);
    else
        SystemLog(line);
}

void PrintErrMsg(int code, const char* msg) {
    if (code == 0) return;
    std::fprintf(stderr, "error:%d, %s\n", code, msg);
    std::fflush(stderr);
}

void PrintIOErrMsg(int code, const char* msg) {
    if (code == 0) return;
    const int err = code < 0 ? -code : code;
    std::fprintf(stderr, "%s - %s(%x,%d)\n", msg, std::strerror(err), static_cast<unsigned>(code),
                 code & 0xffffff);
    std::fflush(stderr);
}
