// The delivery ledger: what each scale acknowledged, per goods number, so
// that the operator can tell what a scale holds without reading it and a
// replaced scale can be given the same records again.
//
// It is an SQLite file of its own beside the store (WAL mode, a busy
// time-out, like the store).  A record's bytes are kept once however many
// scales hold them; each scale maps its goods numbers to a record.  One
// scale's delivery is one transaction, written only after the scale has
// answered, so a crash at any moment leaves the ledger saying less than the
// scale holds, never more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/status.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tv::platform {

// One goods number a scale acknowledged in a delivery: the record it now
// holds, or (no bytes) its deletion.
struct LedgerChange {
  int32_t goods = 0;
  const uint8_t* bytes = nullptr;  // null: deleted
  size_t length = 0;
};

// What the ledger says a scale holds under one goods number.
struct LedgerEntry {
  int32_t goods = 0;
  std::vector<uint8_t> bytes;
  std::string file;   // the file it came in
  int64_t since = 0;  // seconds since the epoch of that delivery
};

// A resend asked for on the command line, kept in the ledger until the
// service has said in its log who asked (ledger_resend.cpp).
struct ResendRequest {
  std::string file;  // the parked copy's name
  int scale = 0;     // for which scale
  int from = 0;      // whose records
  int64_t records = 0;
  std::string who;    // the user, as the operator reads it
  int64_t asked = 0;  // seconds since the epoch
};

// How a delivery ended, for whether the next may send only what changed.
struct LedgerOutcome {
  bool failed = false;  // the scale did not take the whole of what it was sent
  bool whole = false;   // it took the whole file, not only the changes
};

class Ledger {
 public:
  Ledger() = default;
  ~Ledger();
  Ledger(const Ledger&) = delete;
  Ledger& operator=(const Ledger&) = delete;

  // "ledger.db" in the store's directory.
  static std::string PathBeside(const std::string& storePath);

  // Read-only opening never creates the file: a missing ledger is kNotFound.
  Status Open(const std::string& path, bool readOnly = false);
  bool IsOpen() const { return db_ != nullptr; }

  // Records one scale's acknowledged changes from `file` at `when`, and how
  // the delivery ended, in one transaction that ends the Begin.
  Status Record(int scale, const std::string& file, int64_t when,
                const std::vector<LedgerChange>& changes, LedgerOutcome outcome = {});
  // Whether the ledger may stand for what `scale` holds at `now`: it had a
  // whole file within `maxAgeSeconds` and no failed delivery since.
  Status Trusted(int scale, int64_t now, int64_t maxAgeSeconds, bool& trusted);
  // Before a delivery to `scale`: until Record ends it, the scale's entries
  // are not vouched for (Holdings gives none), and should it never end (a
  // kill), the next Begin drops them, since any may have changed meanwhile.
  Status Begin(int scale);
  // What `scale` holds, by goods number; nothing while a delivery is in
  // flight or was cut off.
  Status Holdings(int scale, std::vector<LedgerEntry>& out);
  // A digest of every change recorded for `scale` since it held nothing:
  // scales with the same history hold the same records, so what one lacks
  // of a file the others lack too.  None when not known (a ledger kept
  // before histories were).
  Status History(int scale, std::optional<uint64_t>& history);

  // Resend requests: noted by the command, withdrawn when its copy could
  // not be written, and taken (read and removed in one transaction) by the
  // service, so that none is ever logged twice.
  Status NoteResend(const ResendRequest& request);
  Status WithdrawResend(const std::string& file);
  Status TakeResendRequests(std::vector<ResendRequest>& out);

 private:
  Status Exec(const char* sql);
  bool MarkOutcome(int scale, int64_t when, LedgerOutcome outcome);
  bool ExtendHistory(int scale, const std::vector<LedgerChange>& changes);
  bool CachedRecordId(sqlite3_stmt* insert, sqlite3_stmt* find, const LedgerChange& c, int64_t& id);
  Status Failed(const char* what);

  sqlite3* db_ = nullptr;
  std::string path_;
  // Record ids by bytes: the scales of one profile get the same records,
  // and only the first scale's delivery need look them up.
  static constexpr size_t kMaxCachedRecords = 65536;
  std::unordered_map<std::string, int64_t> recordIds_;
};

}  // namespace tv::platform
