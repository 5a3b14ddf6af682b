// What blocks delivery, as the running service knows it: whether cycles can
// run, the files it rejected, the last goods file's skipped lines, every
// scale's state with the cause of its last failure, and the scales a cycle
// is serving.  The service keeps it between cycles, tells the operator of a
// change once (a scale down, still down every 30 minutes, back), and writes
// it to one file beside the store, from which `tovalink status` on the same
// machine reads all it adds to the status port's answer.
#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tv {

// The facts about one scale.
struct TScaleFacts {
  bool known = false;         // an attempt has ended since the service started
  bool delivered = false;     // the last attempt's outcome
  bool busy = false;          // a cycle is serving it right now
  std::time_t downSince = 0;  // 0: not down
  std::time_t lastRetry = 0;  // the latest attempt while down
  std::string cause;          // what ended the last failed attempt
  int keyboardCode = 0;       // the last keyboard upload's code (0: none failed)
  std::string keyboardFile;
  std::string keyboardCause;
  std::time_t lastAttempt = 0;  // goods deliveries, Unix seconds; 0: none yet
  std::time_t lastSuccess = 0;
  std::map<int, long long> deliveries;  // attempts per result code since start
  long long frames = 0;                 // goods frames sent since start
  // Goods records of the latest delivery to the scale: those it
  // acknowledged, and those delta delivery left out because the ledger says
  // the scale holds them as they are; then their sums since start.
  bool recordsCounted = false;
  long long recordsSent = 0;
  long long recordsSkipped = 0;
  long long recordsSentTotal = 0;
  long long recordsSkippedTotal = 0;
  // Logging state, not written out.
  std::time_t lastReminder = 0;
  int backlogDelivered = 0;
  bool cameBack = false;
};

struct TRejectedFacts {
  int count = 0;
  std::string newest;  // file name
  std::string reason;
  std::time_t when = 0;
};

// One finished export cycle.
struct TCycleFacts {
  std::time_t started = 0;
  long long ms = 0;
};

struct TLastFileFacts {
  std::string name;
  size_t read = 0;
  size_t skipped = 0;
  size_t firstLine = 0;
  std::string firstReason;
};

// Everything the file holds; what the status command reads back.
struct TFactsRecord {
  std::string cyclesBlocked;  // empty: cycles run
  // A stored value the cycles cannot use; they go on with the values they
  // had.  Empty: every value read.
  std::string settingsFault;
  std::optional<std::time_t> lockedSince;
  TRejectedFacts rejected;
  TLastFileFacts lastFile;
  std::map<int, TScaleFacts> scales;
  std::time_t started = 0;                // the service's start
  long long cycles = 0;                   // finished since start
  long long cyclesMs = 0;                 // their summed duration
  std::vector<TCycleFacts> recentCycles;  // the newest last
  long long recordsSent = 0;              // every scale's, since start
  long long recordsSkipped = 0;
};

// The file beside the store at `storePath`.
std::string FactsPath(const std::string& storePath);
std::string FormatFacts(const TFactsRecord& record);
// Lines it does not know are skipped, so an older reader reads a newer file.
TFactsRecord ParseFacts(const std::string& text);

// The interval between two reminders that a scale is still down; a test of
// the real binary shortens it with TOVALINK_TEST_REMINDER_S.
int ReminderIntervalSeconds();

class TServiceFacts {
 public:
  static constexpr int kReminderSeconds = 30 * 60;

  TServiceFacts(std::string storePath, int reminderSeconds = kReminderSeconds);

  void CyclesBlocked(const std::string& reason);
  void CyclesRun();
  void SettingsFault(const std::string& fault);
  void Locked(bool locked);
  void Rejected(const std::string& fileName, const std::string& reason);
  void LastFile(const std::string& fileName, size_t read, size_t skipped, size_t firstLine,
                const std::string& firstReason);
  void Busy(const std::vector<int>& scales);

  // One goods delivery attempt, logged as a change: a scale that fails goes
  // down with one warning; its later failures are debug lines; its first
  // success ends the outage (one line at the cycle's end).  True when the
  // attempt changed what the operator knows.
  bool GoodsAttempt(int number, const std::string& address, const std::string& fileName, int code,
                    const std::string& cause, bool parkedCopy);
  bool KeyboardAttempt(int number, const std::string& address, const std::string& fileName,
                       int code, const std::string& cause, bool parkedCopy);
  // Per scale number: its parked count and the oldest's last-write time.
  using TParkedCounts = std::map<int, std::pair<int, std::time_t>>;
  // The end of a cycle: a line per scale back, a reminder per scale down
  // for the interval; `parked` is asked only when a reminder is due.  True
  // when anything was logged.
  bool CycleEnded(const std::function<TParkedCounts()>& parked);
  // Frames a goods delivery put on the wire, counted before its attempt.
  void FramesSent(int number, size_t frames);
  // The goods records one delivery got acknowledged and left out as held,
  // counted like the frames.
  void RecordsDelivered(int number, size_t sent, size_t skipped);
  // A cycle's start and its duration, counted once it is over.
  void CycleTimed(std::time_t started, long long ms);
  static constexpr size_t kRecentCycles = 5;

  // A parked file for a scale not in the list: one warning per scale until
  // ForgetUnlisted (a reload).
  void Unlisted(int number, const std::string& fileName, int count);
  void ForgetUnlisted();

  TFactsRecord Snapshot() const;

 private:
  void PublishLocked();
  TScaleFacts& ScaleLocked(int number);

  const std::string path_;
  const int reminderSeconds_;
  mutable std::mutex mutex_;
  TFactsRecord record_;
  std::map<int, std::string> addresses_;
  std::set<int> unlistedWarned_;
  std::string written_;  // what the file holds, to write only changes
};

}  // namespace tv
