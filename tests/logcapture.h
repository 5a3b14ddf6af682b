// Collects the service log's lines while a test runs, instead of stderr.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log.h"

namespace tv::test {

class LogCapture {
 public:
  struct Line {
    platform::LogLevel level;
    std::string text;
  };

  LogCapture() {
    platform::SetLogSink([this](platform::LogLevel level, std::string_view text) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back({level, std::string(text)});
    });
  }
  ~LogCapture() { platform::SetLogSink(nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<Line> Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  // Lines at `level` that contain every one of `parts`.
  size_t Count(platform::LogLevel level, const std::vector<std::string>& parts) const {
    size_t n = 0;
    for (const Line& line : Lines()) {
      bool all = line.level == level;
      for (const auto& part : parts) all = all && line.text.find(part) != std::string::npos;
      n += all ? 1 : 0;
    }
    return n;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Line> lines_;
};

}  // namespace tv::test
