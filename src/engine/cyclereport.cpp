#include "engine/cyclereport.h"

#include <cstdio>

#include "platform/log.h"
#include "platform/tick.h"
#include "scale/resultmeaning.h"

namespace tv {
namespace {

std::string Plural(size_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

}  // namespace

void TCycleProgress::Busy(const std::string& fileName, const std::vector<int>& scales) {
  std::lock_guard<std::mutex> lock(mutex_);
  fileName_ = fileName;
  scales_ = scales;
  if (listener_) listener_(scales_);
}

void TCycleProgress::Idle() {
  std::lock_guard<std::mutex> lock(mutex_);
  fileName_.clear();
  scales_.clear();
  if (listener_) listener_(scales_);
}

void TCycleProgress::SetListener(std::function<void(const std::vector<int>&)> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  listener_ = std::move(listener);
}

std::string TCycleProgress::Describe() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fileName_.empty()) return {};
  std::string out = fileName_ + (scales_.size() == 1 ? " to scale " : " to scales ");
  for (size_t i = 0; i < scales_.size(); ++i) out += (i ? ", " : "") + std::to_string(scales_[i]);
  return out;
}

TCycleTally::TCycleTally() : startTick_(platform::TickCount()) {}

void TCycleTally::Attempt(int number, int code) {
  if (number < 0) return;
  auto [it, fresh] = allDelivered_.emplace(number, code == 0);
  if (!fresh) it->second = it->second && code == 0;
}

size_t TCycleTally::Delivered() const {
  size_t n = 0;
  for (const auto& [number, ok] : allDelivered_) n += ok ? 1 : 0;
  return n;
}

std::string TCycleTally::Summary(size_t parkedAfter) const {
  const double seconds = (platform::TickCount() - startTick_) / 1000.0;
  const size_t delivered = Delivered();
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.1f s", seconds);
  return Plural(files_, "file") + ", " + Plural(allDelivered_.size(), "scale") + ": " +
         std::to_string(delivered) + " delivered, " + std::to_string(allDelivered_.size() - delivered) +
         " failed, " + Plural(parkedAfter, "file") + " parked, " + duration;
}

std::string TCycleTally::StatusLine(const std::string& hhmm, size_t parkedAfter) const {
  return "last cycle " + hhmm + ": " + Plural(files_, "file") + ", " + std::to_string(Delivered()) + " of " +
         Plural(allDelivered_.size(), "scale") + " delivered, " + Plural(parkedAfter, "file") + " parked";
}

std::string FileLinesText(const std::string& fileName, const TSkippedLines& lines) {
  std::string text = fileName + ": " + std::to_string(lines.read) + " lines read";
  if (lines.skipped == 0) return text;
  return text + ", " + std::to_string(lines.skipped) + " skipped; first skipped: line " +
         std::to_string(lines.firstLine) + ", " + lines.firstReason;
}

void LogFileLines(const std::string& fileName, const TSkippedLines& lines) {
  if (lines.skipped == 0)
    platform::LogInfo("%s", FileLinesText(fileName, lines).c_str());
  else
    platform::LogWarning("%s", FileLinesText(fileName, lines).c_str());
}

TSkippedLines WithEncoderSkips(const TLineLists& lists, const TEncodedFile& encoded) {
  TSkippedLines skips = lists.skips;
  const TLeftOutLine* first = nullptr;
  size_t firstLine = 0;
  for (const TLeftOutLine& l : encoded.leftOut) {
    const std::vector<size_t>& numbers = l.code == 'D'   ? lists.dLineNumbers
                                         : l.code == 'T' ? lists.tLineNumbers
                                                         : lists.aLineNumbers;
    const size_t line = l.entry < numbers.size() ? numbers[l.entry] : 0;
    if (!first || line < firstLine) {
      first = &l;
      firstLine = line;
    }
  }
  if (first) skips.Add(encoded.leftOut.size(), firstLine, first->reason);
  return skips;
}

void LogAttempt(int number, const std::string& address, const std::string& fileName, int code, bool parkedCopy) {
  const char* kind = parkedCopy ? " (parked copy)" : "";
  if (number < 0) {
    platform::LogWarning("%s: code %d, %s", fileName.c_str(), code, ResultMeaning(code));
    return;
  }
  if (code == 0)
    platform::LogInfo("scale %d (%s): %s%s: code 0, %s", number, address.c_str(), fileName.c_str(), kind,
                      ResultMeaning(code));
  else
    platform::LogWarning("scale %d (%s): %s%s: code %d, %s", number, address.c_str(), fileName.c_str(), kind,
                         code, ResultMeaning(code));
}

}  // namespace tv
