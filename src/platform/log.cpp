#include "platform/log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>

#include "platform/clock.h"

namespace tv::platform {
namespace {

std::mutex sinkMutex;
LogSink sink;
std::atomic<int> threshold{-1};

int ThresholdFromEnvironment() {
  const char* v = std::getenv("TOVALINK_LOG_LEVEL");
  if (v != nullptr && std::strcmp(v, "debug") == 0) return static_cast<int>(LogLevel::Debug);
  return static_cast<int>(LogLevel::Info);
}

int CurrentThreshold() {
  int t = threshold.load();
  if (t < 0) {
    t = ThresholdFromEnvironment();
    threshold.store(t);
  }
  return t;
}

const char* LevelWord(LogLevel level) {
  switch (level) {
    case LogLevel::Error: return "error: ";
    case LogLevel::Warning: return "warning: ";
    case LogLevel::Notice: return "notice: ";
    case LogLevel::Info: return "";
    case LogLevel::Debug: return "debug: ";
  }
  return "";
}

void WriteWhole(const std::string& line) {
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

// A terminal or a file, unlike the journal, keeps no time of its own for a
// line.
std::string TimeStamp() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return FormatIso8601(now.tv_sec, static_cast<int>(now.tv_nsec / 1000000)) + " ";
}

void LogV(LogLevel level, const char* format, va_list args) {
  char buffer[2048];
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (n < 0) return;
  size_t len = std::min(static_cast<size_t>(n), sizeof buffer - 1);
  Log(level, std::string_view(buffer, len));
}

}  // namespace

bool StderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  unsigned long long dev = 0, ino = 0;
  if (std::sscanf(stream, "%llu:%llu", &dev, &ino) != 2) return false;
  struct stat st {};
  if (::fstat(STDERR_FILENO, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == dev && static_cast<unsigned long long>(st.st_ino) == ino;
}

void Log(LogLevel level, std::string_view message) {
  if (static_cast<int>(level) > CurrentThreshold()) return;
  {
    std::lock_guard<std::mutex> lock(sinkMutex);
    if (sink) {
      sink(level, message);
      return;
    }
  }
  static const bool journal = StderrIsJournal();
  std::string line;
  line.reserve(message.size() + 24);
  if (journal) {
    line += '<';
    line += static_cast<char>('0' + static_cast<int>(level));
    line += '>';
  } else {
    line += TimeStamp();
    line += "tovalink: ";
    line += LevelWord(level);
  }
  // One event, one line: an embedded line break would look like a new event.
  for (char c : message) line += (c == '\n' || c == '\r') ? ' ' : c;
  line += '\n';
  WriteWhole(line);
}

#define TV_LOG_FORWARD(level)        \
  va_list args;                      \
  va_start(args, format);            \
  LogV(level, format, args);         \
  va_end(args)

void LogError(const char* format, ...) { TV_LOG_FORWARD(LogLevel::Error); }
void LogWarning(const char* format, ...) { TV_LOG_FORWARD(LogLevel::Warning); }
void LogNotice(const char* format, ...) { TV_LOG_FORWARD(LogLevel::Notice); }
void LogInfo(const char* format, ...) { TV_LOG_FORWARD(LogLevel::Info); }
void LogDebug(const char* format, ...) { TV_LOG_FORWARD(LogLevel::Debug); }

#undef TV_LOG_FORWARD

void LogCaughtException(const char* where) {
  try {
    throw;
  } catch (const std::exception& e) {
    LogError("%s: %s", where, e.what());
  } catch (...) {
    LogError("%s: unknown exception", where);
  }
}

void SetLogThreshold(LogLevel level) { threshold.store(static_cast<int>(level)); }

void SetLogSink(LogSink next) {
  std::lock_guard<std::mutex> lock(sinkMutex);
  sink = std::move(next);
}

}  // namespace tv::platform
