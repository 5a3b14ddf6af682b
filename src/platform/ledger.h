// The delivery ledger: what each scale acknowledged, per goods number, so
// that the operator can tell what a scale holds without reading it and a
// replaced scale can be given the same records again.
//
// It is an SQLite file of its own beside the store (WAL mode, a busy
// time-out, like the store).  A record's bytes are kept once however many
// scales hold them; each scale maps its goods numbers to a record.  One
// scale's delivery is one transaction (or one savepoint of a group's
// transaction), written only after the scale has answered, so a crash at any
// moment leaves the ledger saying less than the scale holds, never more.
//
// An open ledger mirrors in memory what each scale it wrote maps its goods
// to, so that a delivery of mostly the same records writes only the changed
// ones; another writer's commit (PRAGMA data_version) drops the mirror.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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
  Ledger();
  ~Ledger();
  Ledger(const Ledger&) = delete;
  Ledger& operator=(const Ledger&) = delete;

  // "ledger.db" in the store's directory.
  static std::string PathBeside(const std::string& storePath);

  // Read-only opening never creates the file: a missing ledger is kNotFound.
  Status Open(const std::string& path, bool readOnly = false);
  bool IsOpen() const { return db_ != nullptr; }

  // Records one scale's acknowledged changes from `file` at `when`, and how
  // the delivery ended, in one transaction (a savepoint within a group)
  // that ends the Begin.
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

  // Between these, Begin and Record share one transaction, each of them
  // still all or nothing for its scale; EndGroup commits.  A group that
  // cannot commit is lost whole: after a batch's records, its scales stay
  // pending, the safe side.
  Status BeginGroup();
  Status EndGroup();
  bool InGroup() const { return inGroup_; }

  // Removes the records and file names no scale holds any more.
  Status Prune();
  // Once after opening, then after enough holdings were replaced or deleted
  // that their records may weigh on the file.
  bool PruneDue() const { return !prunedSinceOpen_ || displaced_ >= kPruneAfterDisplaced; }

 private:
  struct Statements;
  // Goods number -> record id, sorted by goods.
  struct Held {
    int32_t goods;
    uint32_t record;
  };
  struct BytesHash {
    using is_transparent = void;
    size_t operator()(std::string_view v) const { return std::hash<std::string_view>{}(v); }
  };
  // A scale's holdings as they stand inside an unfinished Record.
  class HeldDraft;

  Status Exec(const char* sql);
  Status OpenTransaction();
  Status CloseTransaction(bool ok, const char* what);
  bool MarkOutcome(int scale, int64_t when, LedgerOutcome outcome);
  bool ExtendHistory(int scale, const std::vector<LedgerChange>& changes);
  bool FileId(const std::string& file, int64_t& id);
  bool CachedRecordId(const LedgerChange& c, int64_t& id);
  bool ApplyChange(int scale, int64_t fileId, int64_t when, const LedgerChange& c,
                   HeldDraft& draft);
  const std::vector<Held>* Mirror(int scale);
  void NoticeOtherWriters();
  void ForgetMirror();
  Status Failed(const char* what);

  sqlite3* db_ = nullptr;
  std::string path_;
  std::unique_ptr<Statements> st_;  // prepared once per writable opening
  bool inGroup_ = false;
  int64_t dataVersion_ = -1;
  // Record ids by bytes: the scales of one profile get the same records,
  // and only the first scale's delivery need look them up.
  static constexpr size_t kMaxCachedRecords = 65536;
  std::unordered_map<std::string, int64_t, BytesHash, std::equal_to<>> recordIds_;
  std::unordered_map<int, std::vector<Held>> held_;
  std::string lastFile_;
  int64_t lastFileId_ = 0;
  static constexpr size_t kPruneAfterDisplaced = 10000;
  size_t displaced_ = 0;
  bool prunedSinceOpen_ = false;
};

}  // namespace tv::platform
