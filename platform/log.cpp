#include "platform/log.hpp"

#include <syslog.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

LogSink& Sink() {
    static LogSink sink;
    return sink;
}

void SystemLog(const std::string& line) {
    static bool opened = false;
    if (!opened) {
        openlog(program_invocation_short_name, LOG_PID, LOG_DAEMON);
        opened = true;
    }
    syslog(LOG_NOTICE, "%s", line.c_str());
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
