// The flags the engine shares with the parameter server, the status server
// and the reporter, and the gate between starting an export cycle and the
// parameter server's lock and configuration exchange.  Each side decides
// under the gate, so a lock acknowledged with ACK can never be followed by
// a cycle that passed its check just before, and a cycle that has begun
// makes the lock and a new exchange answer BS.  Held through a shared_ptr
// so a worker that outlives the engine (the reporter) never reads freed
// memory.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tv {

class TEngineFlags {
 public:
  std::atomic<bool> CycleRunning{false};
  std::atomic<bool> ExportsLocked{false};
  // A configuration exchange runs: from the ACK to its ENQ to its end.
  std::atomic<bool> ExchangeOpen{false};
  // A cycle was put off for an exchange; the exchange's end asks for it and
  // no further exchange opens before it has begun.
  std::atomic<bool> CycleWanted{false};

  // Engine: true, with CycleRunning set, when no lock and no exchange hold
  // exporting back.
  bool TryBeginCycle() {
    std::lock_guard<std::mutex> lock(gate_);
    if (ExportsLocked) {
      CycleWanted = false;  // the lock's end lets the timer ask again
      return false;
    }
    if (ExchangeOpen) {
      CycleWanted = true;
      return false;
    }
    CycleWanted = false;
    CycleRunning = true;
    return true;
  }

  // Parameter server: false (answer BS) when a cycle has begun.
  bool TryLockExports() {
    std::lock_guard<std::mutex> lock(gate_);
    if (CycleRunning) return false;
    ExportsLocked = true;
    return true;
  }

  // Parameter server: false (answer BS) when a cycle has begun or waits
  // for the end of the previous exchange, or another client's exchange is
  // open: connections are served side by side, exchanges one at a time.
  bool TryOpenExchange() {
    std::lock_guard<std::mutex> lock(gate_);
    if (ExchangeOpen || CycleRunning || (CycleWanted && !ExportsLocked)) return false;
    ExchangeOpen = true;
    return true;
  }

  // True when a cycle waits for this end and must be asked for now.
  bool CloseExchange() {
    std::lock_guard<std::mutex> lock(gate_);
    const bool wasOpen = ExchangeOpen.exchange(false);
    exchangeEnded_.notify_all();
    return wasOpen && CycleWanted && !ExportsLocked;
  }

  // Parameter server: waits up to `ms` for the open exchange to end; true
  // when none is open.
  bool WaitForNoExchange(int ms) {
    std::unique_lock<std::mutex> lock(gate_);
    return exchangeEnded_.wait_for(lock, std::chrono::milliseconds(ms),
                                   [this] { return !ExchangeOpen; });
  }

 private:
  std::mutex gate_;
  std::condition_variable exchangeEnded_;
};

}  // namespace tv
