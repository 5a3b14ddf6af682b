// The protocol floor of a delivery: the frames the service sent, sent again
// by a process that does nothing else.  One thread and one connection per
// scale, in batches of 10 as the export cycle runs them; per frame one
// send() and a blocking one-byte recv().  No probe, no log, no store.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tv::bench {

struct TFrames {
  std::string bytes;
  std::vector<std::pair<size_t, size_t>> frames;  // offset, length
};

// Reads a dump of the acking scale; false when it holds no frame.
bool LoadFrames(const std::string& path, TFrames& out);

struct TBareRun {
  double elapsedS = 0;  // before the first connect to after the last close
  double cpuS = 0;      // user + system of the client process
  uint64_t framesAcked = 0;
  bool ok = false;
};

// Forks the client process (pinned to `cpus` unless empty), delivers
// `frames` to scales 1..scales and waits for it.
TBareRun RunBareClient(const TFrames& frames, int scales, int portBase, const std::set<int>& cpus);

}  // namespace tv::bench
