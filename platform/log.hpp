// The system log: one line to syslog(3), mirrored to standard error.
#pragma once

#include <functional>
#include <string>

void LogLine(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Replaces where log lines go (a test double captures them); an empty
// function restores syslog and standard error.
using LogSink = std::function<void(const std::string&)>;
void SetLogSink(LogSink sink);

// "error:%d, %s\n" to standard error when code is non-zero.
void PrintErrMsg(int code, const char* msg);
// "%s - %s(%x,%d)\n" to standard error when code is non-zero: the message, the
// error text of the code (codes are negated errno values), the code in hex and
// the code masked with 0xffffff in decimal.
void PrintIOErrMsg(int code, const char* msg);
