// TAckScales: a process that plays scales 1..n on loopback with nothing but
// the goods protocol's framing: every complete frame is answered with 0x06
// at once, nothing is decoded or kept.  So a run's cost at the scales is one
// receive and one send per frame, the same for the service and for the bare
// client, plus the delay a real scale takes to store a record when one is
// asked for.  Accept and close times and frame counts per scale live in shared
// memory for the benchmark to read.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <string>

namespace tv::bench {

constexpr int kMaxScales = 255;

struct TScaleStats {
  std::atomic<int64_t> firstAcceptNs{0};  // CLOCK_REALTIME
  std::atomic<int64_t> lastCloseNs{0};
  std::atomic<uint64_t> frames{0};
  std::atomic<uint64_t> connections{0};
  std::atomic<uint64_t> malformed{0};
};

struct TAckScalesOptions {
  int scales = 10;
  int portBase = 5000;
  std::set<int> cpus;    // empty: not pinned
  std::string dumpPath;  // frames of scale 1's first connection, each as a
                         // 4-byte little-endian length and the bytes
  int delayUs = 0;       // before every answer: a scale storing the record
};

class TAckScales {
 public:
  TAckScales();
  ~TAckScales();
  TAckScales(const TAckScales&) = delete;
  TAckScales& operator=(const TAckScales&) = delete;

  // Forks the scale process and waits until every port listens.
  bool Start(const TAckScalesOptions& options);
  void Stop();
  pid_t Pid() const { return pid_; }
  const TScaleStats& Scale(int n) const { return stats_[n]; }
  // Over scales 1..n: the first accept and the last close.
  int64_t FirstAcceptNs(int n) const;
  int64_t LastCloseNs(int n) const;
  // True when every scale 1..n has closed `connections` connections.
  bool AllClosed(int n, uint64_t connections) const;

 private:
  TScaleStats* stats_ = nullptr;  // kMaxScales + 1 entries, shared with the child
  pid_t pid_ = -1;
};

}  // namespace tv::bench
