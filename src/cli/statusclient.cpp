#include "cli/statusclient.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/exitcode.h"
#include "cli/options.h"
#include "config/statusprotocol.h"
#include "engine/statuslocal.h"
#include "platform/fs.h"
#include "platform/instancelock.h"
#include "platform/net.h"
#include "platform/registry.h"
#include "platform/tcpconnect.h"
#include "scale/resultmeaning.h"
#include "text/utils.h"

namespace tv {
namespace {

constexpr int kTimeoutMs = 5000;

struct Options {
  std::string host = "127.0.0.1";
  std::string name = "127.0.0.1";  // as the operator wrote it
  uint16_t port = kStatusPort;
  bool json = false;
  bool help = false;  // the usage is printed; nothing else to do
};

struct ScaleStatus {
  uint8_t number = 0;
  uint8_t state = 0;
};

constexpr const char* kUsage =
    "usage: tovalink status [HOST] [--json] [--port N]\n"
    "  HOST    an address or host name (default 127.0.0.1)\n"
    "  exit 0 delivered, 1 no service answered, 3 a scale failed, 4 needs a look\n";

enum : int { kJson = 256, kPort };

// Answers kExitDone to go on, kExitUsage after a problem.
int ParseArgs(int argc, char** argv, Options& opts, std::ostream& out, std::ostream& err) {
  const cli::ParseResult r =
      cli::ParseOptions(argc, argv, {{"json", false, kJson}, {"port", true, kPort}},
                        [&](int id, const char* value) -> std::string {
                          if (id == kJson) opts.json = true;
                          if (id == kPort && (!value || !text::ParsePort(value, opts.port)))
                            return "--port needs a number from 1 to 65535";
                          return "";
                        });
  if (r.outcome == cli::Parsed::kHelp) {
    out << kUsage;
    opts.help = true;
    return cli::kExitDone;
  }
  if (!r.problem.empty()) {
    err << "tovalink status: " << r.problem << "\n";
    return cli::kExitUsage;
  }
  std::string unexpected = r.unexpected;
  if (unexpected.empty() && r.positional.size() > 1) unexpected = r.positional[1];
  if (!unexpected.empty()) {
    err << "tovalink status: unexpected argument '" << unexpected << "'\n" << kUsage;
    return cli::kExitUsage;
  }
  if (r.positional.empty()) return cli::kExitDone;
  if (const platform::Status found = platform::ResolveHost(r.positional[0], opts.host); !found.ok()) {
    err << "tovalink status: " << found.ToString() << "\n";
    return cli::kExitUsage;
  }
  opts.name = r.positional[0];
  return cli::kExitDone;
}

bool Query(const Options& opts, std::vector<ScaleStatus>& scales, std::string& error) {
  const std::string where = opts.host + ":" + std::to_string(opts.port);
  platform::TcpSocket socket;
  if (const platform::Status connected =
          platform::ConnectWithTimeout(socket, opts.host, opts.port, kTimeoutMs);
      !connected.ok()) {
    error = "cannot connect to " + where + ": " + connected.ToString() +
            "; is the service running on " + opts.name + "?";
    return false;
  }
  socket.SetRecvTimeout(kTimeoutMs);
  socket.SetSendTimeout(kTimeoutMs);
  if (!socket.SendAll(&kStatusRequest, 1)) {
    error = "cannot send the request to " + where;
    return false;
  }
  uint8_t count = 0;
  if (!socket.RecvByte(count)) {
    error = "no reply from " + where;
    return false;
  }
  std::vector<uint8_t> reply(StatusReplyLength(count));
  reply[0] = count;
  if (count > 0 && !socket.RecvExact(reply.data() + 1, reply.size() - 1)) {
    error = "short reply from " + where;
    return false;
  }
  scales.clear();
  for (size_t i = 0; i < count; ++i)
    scales.push_back({reply[StatusNumberOffset(i)], reply[StatusStateOffset(count, i)]});
  return true;
}

// The local extras, only when the service asked is this machine's own and
// runs on this store: another store's addresses beside its states would
// mislead.  The store is never created here.
std::optional<TLocalStatus> LocalStatus(const std::string& host, std::ostream& err) {
  const uint32_t addr = platform::InetAddr(host);
  const auto* octets = reinterpret_cast<const unsigned char*>(&addr);
  if (addr == platform::kInvalidAddress || octets[0] != 127) return std::nullopt;
  const std::string home = platform::StateHome();
  if (!platform::InstanceLockHeld(home)) {
    err << "tovalink status: the service answering at " << host << " does not run on " << home
        << " (TOVALINK_HOME); its states are shown without this store's addresses and history\n";
    return std::nullopt;
  }
  return ReadLocalStatus(platform::Registry::DefaultPath());
}

std::string StateName(uint8_t state) {
  switch (state) {
    case urFail: return "failed";
    case urSuccess: return "delivered";
    case urInProgress: return "in progress";
    case urUnknown: return "unknown";
    default: return "code " + std::to_string(state);
  }
}

const TScaleFacts* FactsOf(const std::optional<TLocalStatus>& local, uint8_t number) {
  if (!local || !local->facts) return nullptr;
  auto it = local->facts->scales.find(number);
  return it == local->facts->scales.end() ? nullptr : &it->second;
}

// The status port says "in progress" for every scale while a cycle runs;
// the service's facts tell which scales the cycle is serving, and the last
// known state of the others.
uint8_t StateOf(const ScaleStatus& s, const std::optional<TLocalStatus>& local) {
  if (s.state != urInProgress || !local || !local->facts) return s.state;
  const TScaleFacts* f = FactsOf(local, s.number);
  if (f == nullptr || !f->known) return f != nullptr && f->busy ? urInProgress : urUnknown;
  return f->busy ? urInProgress : f->delivered ? urSuccess : urFail;
}

std::string LocalTimeText(std::time_t t, const char* format) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

// ISO 8601 with the offset written "+01:00".
std::string IsoTime(std::time_t t) {
  std::string text = LocalTimeText(t, "%Y-%m-%dT%H:%M:%S%z");
  if (text.size() > 2) text.insert(text.size() - 2, ":");
  return text;
}

std::string TableTime(std::time_t t) { return LocalTimeText(t, "%Y-%m-%d %H:%M:%S"); }

// "connection refused on port 3004; down since 2026-12-07 10:04:00, latest
// retry 10:31:12"; "-" when nothing failed.
std::string CauseText(const TScaleFacts* f) {
  if (f == nullptr) return "-";
  std::string out;
  if (f->known && !f->delivered) out = f->cause;
  if (f->downSince != 0)
    out += (out.empty() ? "" : "; ") + std::string("down since ") + TableTime(f->downSince) +
           ", latest retry " + LocalTimeText(f->lastRetry, "%H:%M:%S");
  if (f->keyboardCode != 0)
    out += (out.empty() ? "" : "; ") + std::string("keyboard upload of ") + f->keyboardFile +
           " failed: code " + std::to_string(f->keyboardCode) + ", " +
           ResultMeaning(f->keyboardCode) +
           (f->keyboardCause.empty() ? "" : ": " + f->keyboardCause);
  return out.empty() ? "-" : out;
}

std::string AddressOf(const std::optional<TLocalStatus>& local, uint8_t number) {
  return !local || local->addressPrefix.empty() ? std::string() : local->addressPrefix + std::to_string(number);
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonOrNull(const std::string& s) { return s.empty() ? "null" : JsonString(s); }

std::string Age(std::time_t since) {
  const long long s = std::max<long long>(0, static_cast<long long>(std::time(nullptr) - since));
  char buf[32];
  if (s < 3600)
    std::snprintf(buf, sizeof buf, "%lldm", s / 60);
  else if (s < 86400)
    std::snprintf(buf, sizeof buf, "%lldh %02lldm", s / 3600, s % 3600 / 60);
  else
    std::snprintf(buf, sizeof buf, "%lldd %02lldh", s / 86400, s % 86400 / 3600);
  return buf;
}

std::vector<std::string> LocalColumns(const TScaleHistory* h) {
  std::string parked = "-";
  if (h != nullptr && h->parked > 0) parked = std::to_string(h->parked) + ", oldest " + Age(h->oldestParked);
  if (h == nullptr || h->lastCode < 0) return {"-", "-", "-", parked};
  return {h->lastAttempt, std::to_string(h->lastCode) + " " + ResultMeaning(h->lastCode),
          h->lastSuccess.empty() ? "never" : h->lastSuccess, parked};
}

// Columns padded to their widest cell (at least `minWidths`), the last one
// unpadded.
void PrintColumns(const std::vector<std::vector<std::string>>& rows, const std::vector<size_t>& minWidths,
                  std::ostream& out) {
  std::vector<size_t> width(minWidths);
  for (const auto& row : rows)
    for (size_t c = 0; c + 1 < row.size(); ++c) width[c] = std::max(width[c], row[c].size() + 2);
  for (const auto& row : rows) {
    for (size_t c = 0; c + 1 < row.size(); ++c) out << std::left << std::setw(static_cast<int>(width[c])) << row[c];
    out << row.back() << "\n";
  }
}

std::string LockText(const std::optional<std::time_t>& since) {
  if (!since) return "not locked";
  char when[32];
  std::tm tm{};
  localtime_r(&*since, &tm);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
  return std::string("locked since ") + when + " (tovalink unlock lets it resume)";
}

// What keeps files from the scales or needs a look, one line each; nothing
// when all is well.
void PrintBlockers(const TFactsRecord& f, std::ostream& out) {
  if (!f.cyclesBlocked.empty()) out << "Export cycles cannot run: " << f.cyclesBlocked << "\n";
  if (!f.settingsFault.empty())
    out << "Settings not in force: " << f.settingsFault
        << "; cycles go on with the values they had\n";
  if (f.rejected.count > 0)
    out << "Files rejected: " << f.rejected.count << ", the newest " << f.rejected.newest << " at "
        << TableTime(f.rejected.when) << ": " << f.rejected.reason << "\n";
  if (f.lastFile.skipped > 0)
    out << "Lines skipped in the last file " << f.lastFile.name << ": " << f.lastFile.skipped
        << " of " << f.lastFile.read << "; first skipped: line " << f.lastFile.firstLine << ", "
        << f.lastFile.firstReason << "\n";
}

// The goods records of each scale delivered to since the service started,
// one line each; nothing before the first delivery.
void PrintRecords(const TFactsRecord& f, std::ostream& out) {
  bool any = false;
  for (const auto& [n, s] : f.scales) {
    if (!s.recordsCounted) continue;
    any = true;
    out << "Goods records to scale " << n << ": " << s.recordsSent << " sent, " << s.recordsSkipped
        << " skipped as held in the latest delivery; " << s.recordsSentTotal << " sent, "
        << s.recordsSkippedTotal << " skipped since start\n";
  }
  if (any)
    out << "Goods records to all scales: " << f.recordsSent << " sent, " << f.recordsSkipped
        << " skipped as held since start\n";
}

void PrintTable(const std::vector<ScaleStatus>& scales, const std::optional<TLocalStatus>& local,
                std::ostream& out) {
  if (scales.empty()) {
    out << "No scales in the scale list.\n";
  } else {
    std::vector<std::vector<std::string>> rows{{"Scale", "Address", "State"}};
    if (local) rows[0].insert(rows[0].end(), {"Last attempt", "Last code", "Last success", "Parked"});
    if (local && local->facts) rows[0].push_back("Cause");
    for (const ScaleStatus& s : scales) {
      const std::string address = AddressOf(local, s.number);
      std::vector<std::string> row{std::to_string(s.number), address.empty() ? "-" : address,
                                   StateName(StateOf(s, local))};
      if (local) {
        std::vector<std::string> extra = LocalColumns(local->Find(s.number));
        row.insert(row.end(), extra.begin(), extra.end());
      }
      if (local && local->facts) row.push_back(CauseText(FactsOf(local, s.number)));
      rows.push_back(row);
    }
    PrintColumns(rows, {7, 17, 13, 0, 0, 0, 0, 0}, out);
  }
  if (local && local->filesWaiting) out << "Files waiting in the export directory: " << *local->filesWaiting << "\n";
  if (local) out << "Exporting: " << LockText(local->exportsLockedSince) << "\n";
  if (local && !local->undeletable.empty()) {
    out << "\nDelivered but not removable (not delivered again while unchanged; remove by hand):\n";
    for (const std::string& path : local->undeletable) out << "  " << path << "\n";
  }
  if (local && local->facts) PrintBlockers(*local->facts, out);
  if (local && local->facts) PrintRecords(*local->facts, out);
}

std::string JsonDelivered(uint8_t state) {
  return state == urSuccess ? "true" : state == urFail ? "false" : "null";
}

std::string SecondsSince(std::time_t t) {
  return std::to_string(std::max<long long>(0, static_cast<long long>(std::time(nullptr) - t)));
}

std::string JsonLocalFields(const TScaleHistory* h) {
  const bool logged = h != nullptr && h->lastCode >= 0;
  std::string out = ", \"last_code\": " + (logged ? std::to_string(h->lastCode) : "null") +
                    ", \"last_code_meaning\": " + (logged ? JsonString(ResultMeaning(h->lastCode)) : "null") +
                    ", \"last_attempt\": " + (logged ? JsonOrNull(h->lastAttempt) : "null") +
                    ", \"last_success\": " + (logged ? JsonOrNull(h->lastSuccess) : "null") +
                    ", \"parked_files\": " + std::to_string(h ? h->parked : 0) + ", \"oldest_parked_age_s\": ";
  if (h == nullptr || h->parked == 0) return out + "null";
  return out + SecondsSince(h->oldestParked);
}

std::string JsonTime(std::time_t t) { return t == 0 ? "null" : JsonString(IsoTime(t)); }

// The latest delivery's counts are null before the first one.
std::string JsonRecordFields(const TScaleFacts* f) {
  const bool counted = f != nullptr && f->recordsCounted;
  return ", \"records_sent\": " + (counted ? std::to_string(f->recordsSent) : "null") +
         ", \"records_skipped\": " + (counted ? std::to_string(f->recordsSkipped) : "null") +
         ", \"records_sent_total\": " + std::to_string(f ? f->recordsSentTotal : 0) +
         ", \"records_skipped_total\": " + std::to_string(f ? f->recordsSkippedTotal : 0);
}

std::string JsonFactFields(const TScaleFacts* f) {
  const bool failed = f != nullptr && f->known && !f->delivered;
  return ", \"cause\": " + (failed ? JsonOrNull(f->cause) : "null") +
         ", \"down_since\": " + JsonTime(f ? f->downSince : 0) +
         ", \"latest_retry\": " + JsonTime(f && f->downSince ? f->lastRetry : 0) +
         ", \"keyboard_failed\": " +
         (f && f->keyboardCode ? "{\"code\": " + std::to_string(f->keyboardCode) +
                                     ", \"file\": " + JsonString(f->keyboardFile) +
                                     ", \"cause\": " + JsonOrNull(f->keyboardCause) + "}"
                               : "null") +
         JsonRecordFields(f);
}

std::string JsonBlockers(const TFactsRecord& f) {
  std::string out = ",\n \"records_sent_total\": " + std::to_string(f.recordsSent) +
                    ", \"records_skipped_total\": " + std::to_string(f.recordsSkipped) +
                    ",\n \"cycles_blocked\": " + JsonOrNull(f.cyclesBlocked) +
                    ",\n \"settings_fault\": " + JsonOrNull(f.settingsFault) + ",\n \"rejected\": ";
  if (f.rejected.count == 0)
    out += "null";
  else
    out += "{\"count\": " + std::to_string(f.rejected.count) +
           ", \"newest\": " + JsonString(f.rejected.newest) +
           ", \"reason\": " + JsonString(f.rejected.reason) +
           ", \"at\": " + JsonTime(f.rejected.when) + "}";
  out += ",\n \"last_file\": ";
  if (f.lastFile.name.empty()) return out + "null";
  return out + "{\"name\": " + JsonString(f.lastFile.name) +
         ", \"lines_read\": " + std::to_string(f.lastFile.read) +
         ", \"lines_skipped\": " + std::to_string(f.lastFile.skipped) +
         ", \"first_skipped_line\": " +
         (f.lastFile.skipped ? std::to_string(f.lastFile.firstLine) : "null") +
         ", \"first_skip_reason\": " + JsonOrNull(f.lastFile.firstReason) + "}";
}

// The one table of exit codes: a failure that blocks delivery before
// anything that merely needs a look.
int ExitCode(const std::vector<ScaleStatus>& scales, const std::optional<TLocalStatus>& local) {
  bool failed = false;
  for (const ScaleStatus& s : scales) {
    const TScaleFacts* f = FactsOf(local, s.number);
    failed =
        failed || StateOf(s, local) == urFail || (f && (f->downSince != 0 || f->keyboardCode != 0));
  }
  if (local && local->facts && !local->facts->cyclesBlocked.empty()) failed = true;
  if (failed) return kStatusSomeFailed;
  if (local && local->facts &&
      (local->facts->rejected.count > 0 || local->facts->lastFile.skipped > 0 ||
       !local->facts->settingsFault.empty()))
    return kStatusNeedsALook;
  if (local && !local->undeletable.empty()) return kStatusNeedsALook;
  return 0;
}

void PrintJson(const std::vector<ScaleStatus>& scales, const std::optional<TLocalStatus>& local,
               std::ostream& out) {
  out << "{\"scales\": [";
  for (size_t i = 0; i < scales.size(); ++i) {
    const ScaleStatus& s = scales[i];
    out << (i ? ",\n " : "\n ") << "{\"scale\": " << unsigned{s.number}
        << ", \"address\": " << JsonOrNull(AddressOf(local, s.number))
        << ", \"state\": " << JsonString(StateName(StateOf(s, local)))
        << ", \"delivered\": " << JsonDelivered(StateOf(s, local));
    if (local) out << JsonLocalFields(local->Find(s.number));
    if (local && local->facts) out << JsonFactFields(FactsOf(local, s.number));
    out << "}";
  }
  out << (scales.empty() ? "]" : "\n]") << ",\n \"files_waiting\": "
      << (local && local->filesWaiting ? std::to_string(*local->filesWaiting) : "null");
  if (local) {
    const std::optional<std::time_t>& since = local->exportsLockedSince;
    out << ",\n \"exports_locked\": " << (since ? "true" : "false")
        << ", \"exports_locked_for_s\": " << (since ? SecondsSince(*since) : "null");
  }
  // Only when there are any, so that the usual output stays as it was.
  if (local && !local->undeletable.empty()) {
    out << ",\n \"undeletable_files\": [";
    for (size_t i = 0; i < local->undeletable.size(); ++i)
      out << (i ? ", " : "") << JsonString(local->undeletable[i]);
    out << "]";
  }
  if (local && local->facts) out << JsonBlockers(*local->facts);
  out << "}\n";
}

}  // namespace

int RunStatusCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Options opts;
  if (int code = ParseArgs(argc, argv, opts, out, err); code != cli::kExitDone || opts.help)
    return code;
  std::vector<ScaleStatus> scales;
  std::string error;
  if (!Query(opts, scales, error)) {
    err << "tovalink status: " << error << "\n";
    return cli::kExitNoAnswer;
  }
  const std::optional<TLocalStatus> local = LocalStatus(opts.host, err);
  // The local columns come from the store this machine's commands use.
  if (local) err << "store " << platform::Registry::DefaultPath() << "\n";
  if (opts.json)
    PrintJson(scales, local, out);
  else
    PrintTable(scales, local, out);
  return ExitCode(scales, local);
}

int RunStatusCommand(int argc, char** argv) {
  return RunStatusCommand(argc, argv, std::cout, std::cerr);
}

}  // namespace tv
