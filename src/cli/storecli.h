// `tovalink store backup|restore FILE`: a consistent copy of the store
// while the service runs, and its return while the service is stopped.
#pragma once

#include <ostream>

namespace tv {

// argv holds the words after "store".  Returns the exit code.
int RunStoreCommand(int argc, char** argv, std::ostream& out, std::ostream& err);
int RunStoreCommand(int argc, char** argv);

// Whether a service holds the state directory's instance lock, and its pid
// (0 when unknown).  When none runs the probe holds the lock itself, so
// none can start while it lives.
class ServiceProbe {
 public:
  ServiceProbe();
  ~ServiceProbe();
  ServiceProbe(const ServiceProbe&) = delete;
  ServiceProbe& operator=(const ServiceProbe&) = delete;
  bool Running() const { return running_; }
  long Pid() const { return pid_; }

 private:
  struct Lock;
  Lock* lock_ = nullptr;
  bool running_ = false;
  long pid_ = 0;
};

}  // namespace tv
