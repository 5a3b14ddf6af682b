// What the export cycle tells the operator: one log line per delivery
// attempt, a summary per cycle (also the STATUS line systemctl shows), and
// what a running cycle is busy with when the service is asked to stop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "files/linelists.h"
#include "scale/encodedfile.h"

namespace tv {

// The files and scales a cycle is working on right now.  Written by the
// cycle thread, read by the thread that stops the service.
class TCycleProgress {
 public:
  void Busy(const std::string& fileName, const std::vector<int>& scales);
  void Idle();
  // Told the scales being served at every change (none when idle).
  void SetListener(std::function<void(const std::vector<int>&)> listener);
  // "prices.txt to scales 3, 4"; empty when the cycle is between steps.
  std::string Describe() const;

 private:
  mutable std::mutex mutex_;
  std::string fileName_;
  std::vector<int> scales_;
  std::function<void(const std::vector<int>&)> listener_;
};

// Counts one cycle's attempts for its summary line.
class TCycleTally {
 public:
  TCycleTally();
  // One attempt on one scale; `number` < 0 when the result names no scale.
  void Attempt(int number, int code);
  void File() { ++files_; }
  // "2 files, 25 scales: 24 delivered, 1 failed, 3 files parked, 4.2 s"
  std::string Summary(size_t parkedAfter) const;
  // "last cycle 10:04: 2 files, 24 of 25 scales delivered, 3 files parked"
  std::string StatusLine(const std::string& hhmm, size_t parkedAfter) const;

 private:
  size_t Delivered() const;

  uint32_t startTick_;
  int files_ = 0;
  std::map<int, bool> allDelivered_;  // per scale: every attempt succeeded
};

// Per goods file: lines read, and a warning naming the first line the
// reader left out.
void LogFileLines(const std::string& fileName, const TSkippedLines& lines);
// The text of that line, for `explain` to count as the service does.
std::string FileLinesText(const std::string& fileName, const TSkippedLines& lines);
// The reader's skipped lines with those one encoding left out (D, A and T
// lines that gave no frame) added, as the service counts them.
TSkippedLines WithEncoderSkips(const TLineLists& lists, const TEncodedFile& encoded);

// The per-attempt log line: info for a delivery, warning for a failure.
void LogAttempt(int number, const std::string& address, const std::string& fileName, int code, bool parkedCopy);

}  // namespace tv
