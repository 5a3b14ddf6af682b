// TService: the real tovalink binary under measurement, with a state
// directory of its own in the benchmark's work folder.  Its store is
// written through the binary's own commands before it starts: scales 1..n
// at 127.0.0.n (the default address prefix never reaches it), Bench scales
// with barcode type 5, VerInterval 1.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tv::bench {

struct TDelivery {
  int64_t dropNs = 0;  // the file renamed into the export folder
  int64_t logNs = 0;   // mtime of the delivery log once every scale has its line
  double cpuS = 0;     // service CPU from the drop to the file's deletion
  bool ok = false;     // every line logged with code 0
};

class TService {
 public:
  TService(std::string binary, std::string work);
  ~TService();
  TService(const TService&) = delete;
  TService& operator=(const TService&) = delete;

  // Writes the store for scales 1..maxScales and starts with `scales` of them.
  bool Configure(int maxScales, int scales, int portBase);
  bool SetScaleCount(int scales);
  // A DWORD of the product key, e.g. MaxParallelScales.
  bool SetValue(const std::string& name, uint32_t value);
  bool Start();
  void Stop();
  pid_t Pid() const { return pid_; }

  // Drops `data` as a new goods file and waits until the delivery log holds
  // one new line per scale and the cycle has deleted the file.
  // Gives up after `deadlineS` seconds.
  TDelivery Deliver(const std::string& data, int deadlineS = 600);

 private:
  bool Reg(const std::string& key, const std::string& name, const std::string& type,
           const std::string& data);
  bool Tovalink(const std::vector<std::string>& args);
  std::vector<std::string> Env() const;
  bool WaitUntilListening();

  const std::string binary_, work_, home_, export_, logDir_, logFile_;
  pid_t pid_ = -1;
  int scales_ = 0;
  int drops_ = 0;
};

}  // namespace tv::bench
