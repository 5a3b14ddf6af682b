#include "platform/ledger.h"

#include <sqlite3.h>

#include <cerrno>
#include <memory>
#include <string_view>

#include "platform/env.h"
#include "platform/fs.h"

namespace tv::platform {
namespace {

struct StmtCloser {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtCloser>;

Stmt Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) return nullptr;
  return Stmt(s);
}

bool StepDone(sqlite3_stmt* s) {
  const int rc = sqlite3_step(s);
  sqlite3_reset(s);
  return rc == SQLITE_DONE || rc == SQLITE_ROW;
}

// The record's id, stored now if no scale held these bytes before.
bool RecordId(sqlite3_stmt* insert, sqlite3_stmt* find, const LedgerChange& c, int64_t& id) {
  sqlite3_bind_blob(insert, 1, c.bytes, static_cast<int>(c.length), SQLITE_STATIC);
  if (!StepDone(insert)) return false;
  sqlite3_bind_blob(find, 1, c.bytes, static_cast<int>(c.length), SQLITE_STATIC);
  const bool found = sqlite3_step(find) == SQLITE_ROW;
  if (found) id = sqlite3_column_int64(find, 0);
  sqlite3_reset(find);
  return found;
}

uint64_t Mix(uint64_t h, uint64_t v) {
  uint64_t z = h ^ (v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

uint64_t ChangesDigest(const std::vector<LedgerChange>& changes) {
  uint64_t h = changes.size();
  for (const LedgerChange& c : changes) {
    h = Mix(h, static_cast<uint32_t>(c.goods));
    const std::string_view bytes(reinterpret_cast<const char*>(c.bytes), c.length);
    h = Mix(h, c.bytes ? std::hash<std::string_view>{}(bytes) : 0);
  }
  return h;
}

}  // namespace

Ledger::~Ledger() { sqlite3_close(db_); }

std::string Ledger::PathBeside(const std::string& storePath) {
  return ExtractFilePath(storePath) + "ledger.db";
}

Status Ledger::Failed(const char* what) {
  return Status::InvalidArgument(what, path_, db_ ? sqlite3_errmsg(db_) : "not open");
}

Status Ledger::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK ? Status::OK()
                                                                        : Failed("ledger");
}

Status Ledger::Open(const std::string& path, bool readOnly) {
  path_ = path;
  if (readOnly && !Env::Default()->FileExists(path)) return Status::IOError("open", path, ENOENT);
  const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
    Status s = Failed("open");
    sqlite3_close(db_);
    db_ = nullptr;
    return s;
  }
  sqlite3_busy_timeout(db_, 5000);
  if (readOnly) return Status::OK();
  Status s = Exec(
      "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
      "CREATE TABLE IF NOT EXISTS records(id INTEGER PRIMARY KEY, bytes BLOB NOT NULL UNIQUE);"
      "CREATE TABLE IF NOT EXISTS files(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
      "CREATE TABLE IF NOT EXISTS holds(scale INTEGER NOT NULL, goods INTEGER NOT NULL,"
      " record INTEGER NOT NULL, file INTEGER NOT NULL, since INTEGER NOT NULL,"
      " PRIMARY KEY(scale, goods)) WITHOUT ROWID;"
      "CREATE TABLE IF NOT EXISTS scales(scale INTEGER PRIMARY KEY,"
      " whole_at INTEGER NOT NULL DEFAULT 0, failed INTEGER NOT NULL DEFAULT 0,"
      " pending INTEGER NOT NULL DEFAULT 0, history INTEGER);");
  // A ledger from before histories were kept: its scales have none.
  if (s.ok()) {
    Stmt has = Prepare(db_, "SELECT 1 FROM pragma_table_info('scales') WHERE name='history'");
    if (!has)
      s = Failed("open");
    else if (sqlite3_step(has.get()) != SQLITE_ROW)
      s = Exec("ALTER TABLE scales ADD COLUMN history INTEGER");
  }
  if (!s.ok()) {
    sqlite3_close(db_);
    db_ = nullptr;
  }
  return s;
}

Status Ledger::Record(int scale, const std::string& file, int64_t when,
                      const std::vector<LedgerChange>& changes, LedgerOutcome outcome) {
  if (!db_) return Failed("record in");
  Stmt insertRecord = Prepare(db_, "INSERT OR IGNORE INTO records(bytes) VALUES(?)");
  Stmt findRecord = Prepare(db_, "SELECT id FROM records WHERE bytes=?");
  // The same record sent again keeps its time: "since" is when it came.
  Stmt hold = Prepare(db_,
                      "INSERT INTO holds VALUES(?,?,?,?,?) ON CONFLICT(scale, goods) DO UPDATE SET"
                      " record=excluded.record, file=excluded.file, since=excluded.since"
                      " WHERE record<>excluded.record");
  Stmt drop = Prepare(db_, "DELETE FROM holds WHERE scale=? AND goods=?");
  Stmt insertFile = Prepare(db_, "INSERT OR IGNORE INTO files(name) VALUES(?)");
  Stmt findFile = Prepare(db_, "SELECT id FROM files WHERE name=?");
  if (!insertRecord || !findRecord || !hold || !drop || !insertFile || !findFile)
    return Failed("record in");
  if (Status s = Exec("BEGIN IMMEDIATE"); !s.ok()) return s;
  sqlite3_bind_text(insertFile.get(), 1, file.c_str(), -1, SQLITE_STATIC);
  sqlite3_bind_text(findFile.get(), 1, file.c_str(), -1, SQLITE_STATIC);
  bool ok = MarkOutcome(scale, when, outcome) && ExtendHistory(scale, changes) &&
            StepDone(insertFile.get()) && sqlite3_step(findFile.get()) == SQLITE_ROW;
  const int64_t fileId = ok ? sqlite3_column_int64(findFile.get(), 0) : 0;
  findFile.reset();
  for (size_t i = 0; ok && i < changes.size(); ++i) {
    const LedgerChange& c = changes[i];
    sqlite3_stmt* s = c.bytes ? hold.get() : drop.get();
    sqlite3_bind_int(s, 1, scale);
    sqlite3_bind_int(s, 2, c.goods);
    if (c.bytes) {
      int64_t id = 0;
      ok = CachedRecordId(insertRecord.get(), findRecord.get(), c, id);
      sqlite3_bind_int64(s, 3, id);
      sqlite3_bind_int64(s, 4, fileId);
      sqlite3_bind_int64(s, 5, when);
    }
    ok = ok && StepDone(s);
  }
  if (!ok) {
    Status s = Failed("record in");
    Exec("ROLLBACK");
    return s;
  }
  return Exec("COMMIT");
}

// Ends the scale's delivery in flight, whatever its outcome.
bool Ledger::MarkOutcome(int scale, int64_t when, LedgerOutcome outcome) {
  const char* sql = "UPDATE scales SET pending=0 WHERE scale=?1 AND ?2=?2";
  if (outcome.failed)
    sql =
        "INSERT INTO scales(scale, failed) VALUES(?1, 1)"
        " ON CONFLICT(scale) DO UPDATE SET failed=1, pending=0 WHERE ?2=?2";
  else if (outcome.whole)
    sql =
        "INSERT INTO scales(scale, whole_at) VALUES(?1, ?2)"
        " ON CONFLICT(scale) DO UPDATE SET whole_at=?2, failed=0, pending=0";
  Stmt mark = Prepare(db_, sql);
  if (!mark) return false;
  sqlite3_bind_int(mark.get(), 1, scale);
  sqlite3_bind_int64(mark.get(), 2, when);
  return StepDone(mark.get());
}

// The same changes on the same history give the same history again; a
// scale whose history is not known keeps none.
bool Ledger::ExtendHistory(int scale, const std::vector<LedgerChange>& changes) {
  if (changes.empty()) return true;
  Stmt read = Prepare(db_, "SELECT history FROM scales WHERE scale=? AND history IS NOT NULL");
  Stmt write = Prepare(db_, "UPDATE scales SET history=?2 WHERE scale=?1");
  if (!read || !write) return false;
  sqlite3_bind_int(read.get(), 1, scale);
  const int rc = sqlite3_step(read.get());
  if (rc == SQLITE_DONE) return true;
  if (rc != SQLITE_ROW) return false;
  const auto before = static_cast<uint64_t>(sqlite3_column_int64(read.get(), 0));
  sqlite3_bind_int(write.get(), 1, scale);
  sqlite3_bind_int64(write.get(), 2, static_cast<int64_t>(Mix(before, ChangesDigest(changes))));
  return StepDone(write.get());
}

Status Ledger::History(int scale, std::optional<uint64_t>& history) {
  history.reset();
  if (!db_) return Failed("read");
  Stmt q = Prepare(db_, "SELECT history FROM scales WHERE scale=? AND history IS NOT NULL");
  if (!q) return Failed("read");
  sqlite3_bind_int(q.get(), 1, scale);
  const int rc = sqlite3_step(q.get());
  if (rc == SQLITE_ROW) history = static_cast<uint64_t>(sqlite3_column_int64(q.get(), 0));
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? Status::OK() : Failed("read");
}

bool Ledger::CachedRecordId(sqlite3_stmt* insert, sqlite3_stmt* find, const LedgerChange& c,
                            int64_t& id) {
  std::string key(reinterpret_cast<const char*>(c.bytes), c.length);
  if (auto it = recordIds_.find(key); it != recordIds_.end()) {
    id = it->second;
    return true;
  }
  if (!RecordId(insert, find, c, id)) return false;
  if (recordIds_.size() >= kMaxCachedRecords) recordIds_.clear();
  recordIds_.emplace(std::move(key), id);
  return true;
}

Status Ledger::Trusted(int scale, int64_t now, int64_t maxAgeSeconds, bool& trusted) {
  trusted = false;
  if (!db_) return Failed("read");
  Stmt q = Prepare(db_, "SELECT whole_at, failed + pending FROM scales WHERE scale=?");
  if (!q) return Failed("read");
  sqlite3_bind_int(q.get(), 1, scale);
  const int rc = sqlite3_step(q.get());
  if (rc == SQLITE_ROW)
    trusted = sqlite3_column_int(q.get(), 1) == 0 &&
              now - sqlite3_column_int64(q.get(), 0) < maxAgeSeconds;
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? Status::OK() : Failed("read");
}

Status Ledger::Begin(int scale) {
  if (!db_) return Failed("begin in");
  if (Status s = Exec("BEGIN IMMEDIATE"); !s.ok()) return s;
  // Left pending by a delivery that never ended: its scale may have lost
  // or changed any record, so nothing of it is vouched for any more.
  Stmt drop = Prepare(db_,
                      "DELETE FROM holds WHERE scale=?1 AND"
                      " EXISTS(SELECT 1 FROM scales WHERE scale=?1 AND pending)");
  // A scale seen first holds nothing: its history starts empty, unless
  // records were kept for it without a mark (none known then).  After a
  // cut-off its records are all gone, and so is its history.
  Stmt mark = Prepare(db_,
                      "INSERT INTO scales(scale, pending, history) VALUES(?1, 1,"
                      " CASE WHEN EXISTS(SELECT 1 FROM holds WHERE scale=?1) THEN NULL ELSE 0 END)"
                      " ON CONFLICT(scale) DO UPDATE SET pending=1,"
                      " history=CASE WHEN scales.pending THEN 0 ELSE scales.history END");
  bool ok = drop && mark;
  if (ok) {
    sqlite3_bind_int(drop.get(), 1, scale);
    sqlite3_bind_int(mark.get(), 1, scale);
    ok = StepDone(drop.get()) && StepDone(mark.get());
  }
  if (!ok) {
    Status s = Failed("begin in");
    Exec("ROLLBACK");
    return s;
  }
  return Exec("COMMIT");
}

Status Ledger::Holdings(int scale, std::vector<LedgerEntry>& out) {
  out.clear();
  if (!db_) return Failed("read");
  Stmt q = Prepare(db_,
                   "SELECT h.goods, r.bytes, f.name, h.since FROM holds h"
                   " JOIN records r ON r.id=h.record JOIN files f ON f.id=h.file"
                   " WHERE h.scale=?1 AND NOT EXISTS(SELECT 1 FROM scales s WHERE s.scale=?1"
                   " AND s.pending) ORDER BY h.goods");
  if (!q) return Failed("read");
  sqlite3_bind_int(q.get(), 1, scale);
  int rc;
  while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
    LedgerEntry e;
    e.goods = sqlite3_column_int(q.get(), 0);
    const auto* b = static_cast<const uint8_t*>(sqlite3_column_blob(q.get(), 1));
    e.bytes.assign(b, b + sqlite3_column_bytes(q.get(), 1));
    const auto* f = sqlite3_column_text(q.get(), 2);
    e.file = f ? reinterpret_cast<const char*>(f) : "";
    e.since = sqlite3_column_int64(q.get(), 3);
    out.push_back(std::move(e));
  }
  return rc == SQLITE_DONE ? Status::OK() : Failed("read");
}

}  // namespace tv::platform
