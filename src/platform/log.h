// The service log: one line per event for the operator, written to standard
// error.  Under systemd (standard error is the journal) each line starts with
// the priority prefix journald reads ("<3>" error, "<4>" warning, "<5>" notice, "<6>" info,
// "<7>" debug); on a terminal or in a file it starts with the local time
// (ISO 8601, "2026-03-05T09:07:00.123+01:00 "), "tovalink: " and the level
// word.
// A line is written with one call, so lines of concurrent threads never mix.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tv::platform {

enum class LogLevel { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

void Log(LogLevel level, std::string_view message);
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Notice: what a remote peer did to the service, for the shop's audit.
void LogNotice(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Logs the exception being handled at error level: "<where>: <what()>", or
// "<where>: unknown exception".  For the catch-all at the top of a thread,
// the only place an exception may end up; call it inside the catch block.
void LogCaughtException(const char* where);

// Lines below this level are dropped (default Info; TOVALINK_LOG_LEVEL=debug
// in the environment lowers it).
void SetLogThreshold(LogLevel level);

// Tests capture lines instead of writing them; an empty sink restores stderr.
using LogSink = std::function<void(LogLevel, std::string_view)>;
void SetLogSink(LogSink sink);

// True when standard error is connected to the journal (JOURNAL_STREAM names
// its device and inode).
bool StderrIsJournal();

}  // namespace tv::platform
