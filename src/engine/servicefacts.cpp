#include "engine/servicefacts.h"

#include <cstdlib>
#include <sstream>

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "scale/resultmeaning.h"
#include "scale/scaletypes.h"
#include "text/utils.h"

namespace tv {
namespace {

// A field never holds the file's separators.
std::string Field(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return out;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == '\t')
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

long long Number(const std::string& s) { return std::strtoll(s.c_str(), nullptr, 10); }

std::string Clock(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
  return buf;
}

std::string Age(long long s) {
  if (s < 0) s = 0;
  if (s < 3600) return std::to_string(s / 60) + "m";
  if (s < 86400) return std::to_string(s / 3600) + "h " + std::to_string(s % 3600 / 60) + "m";
  return std::to_string(s / 86400) + "d " + std::to_string(s % 86400 / 3600) + "h";
}

std::string Plural(long long n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

std::string WithCause(int code, const std::string& cause) {
  std::string out = "code " + std::to_string(code) + ", " + ResultMeaning(code);
  return cause.empty() ? out : out + ": " + cause;
}

}  // namespace

std::string FactsPath(const std::string& storePath) {
  return platform::ExtractFilePath(storePath) + "status.txt";
}

std::string FormatFacts(const TFactsRecord& r) {
  std::ostringstream out;
  out << "cycles\t" << (r.cyclesBlocked.empty() ? "run" : "blocked\t" + Field(r.cyclesBlocked))
      << "\n";
  if (!r.settingsFault.empty()) out << "settings\t" << Field(r.settingsFault) << "\n";
  if (r.lockedSince) out << "locked\t" << *r.lockedSince << "\n";
  if (r.rejected.count > 0)
    out << "rejected\t" << r.rejected.count << "\t" << r.rejected.when << "\t"
        << Field(r.rejected.newest) << "\t" << Field(r.rejected.reason) << "\n";
  if (!r.lastFile.name.empty())
    out << "lastfile\t" << r.lastFile.read << "\t" << r.lastFile.skipped << "\t"
        << r.lastFile.firstLine << "\t" << Field(r.lastFile.name) << "\t"
        << Field(r.lastFile.firstReason) << "\n";
  for (const auto& [n, s] : r.scales) {
    const char* state = s.busy        ? "busy"
                        : !s.known    ? "unknown"
                        : s.delivered ? "delivered"
                                      : "failed";
    out << "scale\t" << n << "\t" << state << "\t" << s.downSince << "\t" << s.lastRetry << "\t"
        << s.keyboardCode << "\t" << Field(s.keyboardFile) << "\t" << Field(s.cause) << "\t"
        << Field(s.keyboardCause) << "\n";
    if (s.lastAttempt != 0)
      out << "attempts\t" << n << "\t" << s.lastAttempt << "\t" << s.lastSuccess << "\t" << s.frames
          << "\n";
    for (const auto& [code, count] : s.deliveries)
      out << "deliveries\t" << n << "\t" << code << "\t" << count << "\n";
    if (s.recordsCounted)
      out << "records\t" << n << "\t" << s.recordsSent << "\t" << s.recordsSkipped << "\t"
          << s.recordsSentTotal << "\t" << s.recordsSkippedTotal << "\n";
  }
  if (r.started != 0) out << "started\t" << r.started << "\n";
  if (r.cycles != 0) out << "cyclecount\t" << r.cycles << "\t" << r.cyclesMs << "\n";
  for (const TCycleFacts& c : r.recentCycles) out << "cycle\t" << c.started << "\t" << c.ms << "\n";
  if (r.recordsSent != 0 || r.recordsSkipped != 0)
    out << "allrecords\t" << r.recordsSent << "\t" << r.recordsSkipped << "\n";
  return out.str();
}

TFactsRecord ParseFacts(const std::string& text) {
  TFactsRecord r;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const std::vector<std::string> f = SplitTabs(line);
    if (f[0] == "cycles" && f.size() >= 3 && f[1] == "blocked") {
      r.cyclesBlocked = f[2];
    } else if (f[0] == "settings" && f.size() >= 2) {
      r.settingsFault = f[1];
    } else if (f[0] == "locked" && f.size() >= 2) {
      r.lockedSince = static_cast<std::time_t>(Number(f[1]));
    } else if (f[0] == "rejected" && f.size() >= 5) {
      r.rejected = {static_cast<int>(Number(f[1])), f[3], f[4],
                    static_cast<std::time_t>(Number(f[2]))};
    } else if (f[0] == "lastfile" && f.size() >= 6) {
      r.lastFile = {f[4], static_cast<size_t>(Number(f[1])), static_cast<size_t>(Number(f[2])),
                    static_cast<size_t>(Number(f[3])), f[5]};
    } else if (f[0] == "scale" && f.size() >= 8) {
      TScaleFacts& s = r.scales[static_cast<int>(Number(f[1]))];
      s.busy = f[2] == "busy";
      s.known = f[2] == "delivered" || f[2] == "failed";
      s.delivered = f[2] == "delivered";
      s.downSince = static_cast<std::time_t>(Number(f[3]));
      s.lastRetry = static_cast<std::time_t>(Number(f[4]));
      s.keyboardCode = static_cast<int>(Number(f[5]));
      s.keyboardFile = f[6];
      s.cause = f[7];
      if (f.size() >= 9) s.keyboardCause = f[8];
    } else if (f[0] == "attempts" && f.size() >= 4) {
      TScaleFacts& s = r.scales[static_cast<int>(Number(f[1]))];
      s.lastAttempt = static_cast<std::time_t>(Number(f[2]));
      s.lastSuccess = static_cast<std::time_t>(Number(f[3]));
      if (f.size() >= 5) s.frames = Number(f[4]);
    } else if (f[0] == "deliveries" && f.size() >= 4) {
      r.scales[static_cast<int>(Number(f[1]))].deliveries[static_cast<int>(Number(f[2]))] =
          Number(f[3]);
    } else if (f[0] == "records" && f.size() >= 6) {
      TScaleFacts& s = r.scales[static_cast<int>(Number(f[1]))];
      s.recordsCounted = true;
      s.recordsSent = Number(f[2]);
      s.recordsSkipped = Number(f[3]);
      s.recordsSentTotal = Number(f[4]);
      s.recordsSkippedTotal = Number(f[5]);
    } else if (f[0] == "allrecords" && f.size() >= 3) {
      r.recordsSent = Number(f[1]);
      r.recordsSkipped = Number(f[2]);
    } else if (f[0] == "started" && f.size() >= 2) {
      r.started = static_cast<std::time_t>(Number(f[1]));
    } else if (f[0] == "cyclecount" && f.size() >= 3) {
      r.cycles = Number(f[1]);
      r.cyclesMs = Number(f[2]);
    } else if (f[0] == "cycle" && f.size() >= 3) {
      r.recentCycles.push_back({static_cast<std::time_t>(Number(f[1])), Number(f[2])});
    }
  }
  return r;
}

int ReminderIntervalSeconds() {
  static const int seconds = [] {
    const char* v = std::getenv("TOVALINK_TEST_REMINDER_S");
    if (v == nullptr || *v == '\0') return TServiceFacts::kReminderSeconds;
    int32_t value = 0;
    if (!text::StrToInt(v, value) || value <= 0) {
      platform::LogError("TOVALINK_TEST_REMINDER_S ignored: %s is no positive number", v);
      return TServiceFacts::kReminderSeconds;
    }
    platform::LogWarning(
        "a scale still down is reminded of every %d s instead of every %d s for a test: "
        "TOVALINK_TEST_REMINDER_S",
        value, TServiceFacts::kReminderSeconds);
    return static_cast<int>(value);
  }();
  return seconds;
}

TServiceFacts::TServiceFacts(std::string storePath, int reminderSeconds)
    : path_(FactsPath(storePath)), reminderSeconds_(reminderSeconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  record_.started = std::time(nullptr);
  PublishLocked();
}

TScaleFacts& TServiceFacts::ScaleLocked(int number) { return record_.scales[number]; }

void TServiceFacts::CyclesBlocked(const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  record_.cyclesBlocked = reason;
  PublishLocked();
}

void TServiceFacts::SettingsFault(const std::string& fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (record_.settingsFault == fault) return;
  record_.settingsFault = fault;
  PublishLocked();
}

void TServiceFacts::CyclesRun() {
  std::lock_guard<std::mutex> lock(mutex_);
  record_.cyclesBlocked.clear();
  PublishLocked();
}

void TServiceFacts::Locked(bool locked) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!locked)
    record_.lockedSince.reset();
  else if (!record_.lockedSince)
    record_.lockedSince = std::time(nullptr);  // a second lock keeps the first one's time
  PublishLocked();
}

void TServiceFacts::Rejected(const std::string& fileName, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  record_.rejected.count++;
  record_.rejected.newest = fileName;
  record_.rejected.reason = reason;
  record_.rejected.when = std::time(nullptr);
  PublishLocked();
}

void TServiceFacts::LastFile(const std::string& fileName, size_t read, size_t skipped,
                             size_t firstLine, const std::string& firstReason) {
  std::lock_guard<std::mutex> lock(mutex_);
  record_.lastFile = {fileName, read, skipped, firstLine, skipped ? firstReason : std::string()};
  PublishLocked();
}

void TServiceFacts::Busy(const std::vector<int>& scales) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [n, s] : record_.scales) s.busy = false;
  for (int n : scales) ScaleLocked(n).busy = true;
  PublishLocked();
}

bool TServiceFacts::GoodsAttempt(int number, const std::string& address,
                                 const std::string& fileName, int code, const std::string& cause,
                                 bool parkedCopy) {
  std::lock_guard<std::mutex> lock(mutex_);
  addresses_[number] = address;
  TScaleFacts& s = ScaleLocked(number);
  const std::time_t now = std::time(nullptr);
  const char* kind = parkedCopy ? " (parked copy)" : "";
  const bool failed = code != kResultDelivered && code != kResultNothingToSend;
  s.lastAttempt = now;
  if (code == kResultDelivered) s.lastSuccess = now;
  ++s.deliveries[code];
  s.known = true;
  s.delivered = !failed;
  bool changed = false;
  if (!failed) {
    s.cause.clear();
    if (s.downSince != 0) {
      // The outage ends; the cycle's end says so once, with the backlog.
      s.downSince = 0;
      s.cameBack = true;
      changed = true;
    }
    if (s.cameBack && parkedCopy) {
      ++s.backlogDelivered;
      platform::LogDebug("scale %d (%s): %s%s: %s", number, address.c_str(), fileName.c_str(), kind,
                         WithCause(code, cause).c_str());
    } else {
      platform::LogInfo("scale %d (%s): %s%s: %s", number, address.c_str(), fileName.c_str(), kind,
                        WithCause(code, cause).c_str());
      changed = true;
    }
  } else if (s.downSince == 0 || s.cameBack) {
    s.downSince = now;
    s.lastRetry = now;
    s.lastReminder = now;
    s.cameBack = false;
    s.backlogDelivered = 0;
    if (!cause.empty() || s.cause.empty()) s.cause = cause.empty() ? ResultMeaning(code) : cause;
    platform::LogWarning("scale %d (%s): %s%s: %s; the scale is down, its files wait parked",
                         number, address.c_str(), fileName.c_str(), kind,
                         WithCause(code, cause).c_str());
    changed = true;
  } else {
    s.lastRetry = now;
    if (!cause.empty()) s.cause = cause;  // held back (code 18) keeps the cause that held it back
    platform::LogDebug("scale %d (%s): %s%s: %s", number, address.c_str(), fileName.c_str(), kind,
                       WithCause(code, cause).c_str());
  }
  PublishLocked();
  return changed;
}

bool TServiceFacts::KeyboardAttempt(int number, const std::string& address,
                                    const std::string& fileName, int code, const std::string& cause,
                                    bool parkedCopy) {
  std::lock_guard<std::mutex> lock(mutex_);
  TScaleFacts& s = ScaleLocked(number);
  const char* kind = parkedCopy ? " (parked copy)" : "";
  const std::string text = WithCause(code, cause);
  bool changed = true;
  if (code == 0) {
    platform::LogInfo("scale %d (%s): %s%s: %s", number, address.c_str(), fileName.c_str(), kind,
                      text.c_str());
  } else if (s.keyboardCode == 0 || !parkedCopy) {
    platform::LogWarning("scale %d (%s): %s%s: %s", number, address.c_str(), fileName.c_str(), kind,
                         text.c_str());
  } else {
    changed = false;  // the same layout failing again
    platform::LogDebug("scale %d (%s): %s%s: %s", number, address.c_str(), fileName.c_str(), kind,
                       text.c_str());
  }
  s.keyboardCode = code;
  s.keyboardFile = code == 0 ? std::string() : fileName;
  s.keyboardCause = code == 0 ? std::string() : cause;
  PublishLocked();
  return changed;
}

bool TServiceFacts::CycleEnded(const std::function<TParkedCounts()>& countParked) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::time_t now = std::time(nullptr);
  bool logged = false;
  std::optional<TParkedCounts> parked;
  for (auto& [n, s] : record_.scales) {
    s.busy = false;
    const std::string& address = addresses_[n];
    if (s.cameBack) {
      platform::LogInfo("scale %d (%s) back: %s delivered", n, address.c_str(),
                        Plural(s.backlogDelivered, "parked file").c_str());
      s.cameBack = false;
      s.backlogDelivered = 0;
      logged = true;
    }
    if (s.downSince == 0 || now - s.lastReminder < reminderSeconds_) continue;
    s.lastReminder = now;
    if (!parked) parked = countParked();
    auto it = parked->find(n);
    const int count = it == parked->end() ? 0 : it->second.first;
    std::string backlog = Plural(count, "file") + " parked";
    if (count > 0) backlog += ", the oldest " + Age(now - it->second.second) + " old";
    platform::LogWarning("scale %d (%s) still down since %s (%s): %s; latest retry %s", n,
                         address.c_str(), Clock(s.downSince).c_str(), s.cause.c_str(),
                         backlog.c_str(), Clock(s.lastRetry).c_str());
    logged = true;
  }
  PublishLocked();
  return logged;
}

void TServiceFacts::Unlisted(int number, const std::string& fileName, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!unlistedWarned_.insert(number).second) return;
  platform::LogWarning(
      "scale %d is not in the scale list: %s parked for it (%s%s) never delivered; "
      "`tovalink unsent drop --scale %d --all` removes them",
      number, Plural(count, "file").c_str(), fileName.c_str(), count > 1 ? ", ..." : "", number);
}

void TServiceFacts::ForgetUnlisted() {
  std::lock_guard<std::mutex> lock(mutex_);
  unlistedWarned_.clear();
}

TFactsRecord TServiceFacts::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return record_;
}

// Published with the attempt that follows.
void TServiceFacts::FramesSent(int number, size_t frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  ScaleLocked(number).frames += static_cast<long long>(frames);
}

// Published with the attempt that follows, as the frames are.
void TServiceFacts::RecordsDelivered(int number, size_t sent, size_t skipped) {
  std::lock_guard<std::mutex> lock(mutex_);
  TScaleFacts& s = ScaleLocked(number);
  s.recordsCounted = true;
  s.recordsSent = static_cast<long long>(sent);
  s.recordsSkipped = static_cast<long long>(skipped);
  s.recordsSentTotal += s.recordsSent;
  s.recordsSkippedTotal += s.recordsSkipped;
  record_.recordsSent += s.recordsSent;
  record_.recordsSkipped += s.recordsSkipped;
}

void TServiceFacts::CycleTimed(std::time_t started, long long ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++record_.cycles;
  record_.cyclesMs += ms;
  auto& recent = record_.recentCycles;
  recent.push_back({started, ms});
  if (recent.size() > kRecentCycles) recent.erase(recent.begin());
  PublishLocked();
}

// Written under a temporary name and renamed into place, so a reader never
// meets half a file; a failure costs only the report, so it is logged once.
void TServiceFacts::PublishLocked() {
  const std::string text = FormatFacts(record_);
  if (text == written_) return;
  platform::Env& env = *platform::Env::Default();
  const std::string temporary = path_ + ".tmp";
  platform::Status s = env.WriteFile(temporary, text);
  if (s.ok()) s = env.RenameFile(temporary, path_);
  if (!s.ok()) {
    if (written_ != "\x01")
      platform::LogWarning("%s not written: %s", path_.c_str(), s.ToString().c_str());
    written_ = "\x01";  // never a real text: the next change tries again, quietly
    return;
  }
  written_ = text;
}

}  // namespace tv
