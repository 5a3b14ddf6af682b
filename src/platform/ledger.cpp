#include "platform/ledger.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <memory_resource>
#include <string_view>

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/sqlitestmt.h"

namespace tv::platform {
namespace {

using sqlite::Prepare;
using sqlite::StepDone;
using sqlite::Stmt;

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

// Prepared once per opening: a delivery of 10,000 records would otherwise
// parse the same statements for every scale.
struct Ledger::Statements {
  Stmt insertRecord, findRecord, hold, replace, drop, insertFile, findFile;
  Stmt endPlain, endFailed, endWhole, beginDrop, beginMark, loadHeld, dataVersion;
  Stmt readHistory, writeHistory;

  bool Prepare(sqlite3* db) {
    insertRecord = sqlite::Prepare(db, "INSERT INTO records(bytes) VALUES(?)");
    findRecord = sqlite::Prepare(db, "SELECT id FROM records WHERE bytes=?");
    // The same record sent again keeps its time: "since" is when it came.
    hold = sqlite::Prepare(
        db,
        "INSERT INTO holds VALUES(?,?,?,?,?) ON CONFLICT(scale, goods) DO UPDATE SET"
        " record=excluded.record, file=excluded.file, since=excluded.since"
        " WHERE record<>excluded.record");
    // Known to hold another record: one look-up, not an insert that fails.
    replace = sqlite::Prepare(
        db, "UPDATE holds SET record=?3, file=?4, since=?5 WHERE scale=?1 AND goods=?2");
    drop = sqlite::Prepare(db, "DELETE FROM holds WHERE scale=? AND goods=?");
    insertFile = sqlite::Prepare(db, "INSERT OR IGNORE INTO files(name) VALUES(?)");
    findFile = sqlite::Prepare(db, "SELECT id FROM files WHERE name=?");
    endPlain = sqlite::Prepare(db, "UPDATE scales SET pending=0 WHERE scale=?1 AND ?2=?2");
    endFailed =
        sqlite::Prepare(db,
                        "INSERT INTO scales(scale, failed) VALUES(?1, 1)"
                        " ON CONFLICT(scale) DO UPDATE SET failed=1, pending=0 WHERE ?2=?2");
    endWhole =
        sqlite::Prepare(db,
                        "INSERT INTO scales(scale, whole_at) VALUES(?1, ?2)"
                        " ON CONFLICT(scale) DO UPDATE SET whole_at=?2, failed=0, pending=0");
    // Left pending by a delivery that never ended: its scale may have lost
    // or changed any record, so nothing of it is vouched for any more.
    beginDrop = sqlite::Prepare(db,
                                "DELETE FROM holds WHERE scale=?1 AND"
                                " EXISTS(SELECT 1 FROM scales WHERE scale=?1 AND pending)");
    // A scale seen first holds nothing: its history starts empty, unless
    // records were kept for it without a mark (none known then).  After a
    // cut-off its records are all gone, and so is its history.
    beginMark = sqlite::Prepare(
        db,
        "INSERT INTO scales(scale, pending, history) VALUES(?1, 1,"
        " CASE WHEN EXISTS(SELECT 1 FROM holds WHERE scale=?1) THEN NULL ELSE 0 END)"
        " ON CONFLICT(scale) DO UPDATE SET pending=1,"
        " history=CASE WHEN scales.pending THEN 0 ELSE scales.history END");
    readHistory =
        sqlite::Prepare(db, "SELECT history FROM scales WHERE scale=? AND history IS NOT NULL");
    writeHistory = sqlite::Prepare(db, "UPDATE scales SET history=?2 WHERE scale=?1");
    loadHeld = sqlite::Prepare(db, "SELECT goods, record FROM holds WHERE scale=? ORDER BY goods");
    dataVersion = sqlite::Prepare(db, "PRAGMA data_version");
    return insertRecord && findRecord && hold && replace && drop && insertFile && findFile && endPlain &&
           endFailed && endWhole && beginDrop && beginMark && loadHeld && dataVersion && readHistory && writeHistory;
  }
};

// The changes of one Record laid over the scale's mirrored holdings, kept
// apart so that a rolled back Record leaves the mirror as the file is.
class Ledger::HeldDraft {
  static bool ByGoods(const Held& a, const Held& b) { return a.goods < b.goods; }

 public:
  HeldDraft(const std::vector<Held>* base, size_t changes) : base_(base) {
    overlay_.reserve(changes);
  }
  HeldDraft(const HeldDraft&) = delete;
  HeldDraft& operator=(const HeldDraft&) = delete;
  bool Known() const { return base_ != nullptr; }
  // The record held under `goods`, 0 for none.
  uint32_t Find(int32_t goods) const {
    if (auto it = overlay_.find(goods); it != overlay_.end()) return it->second;
    auto it = std::lower_bound(base_->begin(), base_->end(), Held{goods, 0}, ByGoods);
    return it != base_->end() && it->goods == goods ? it->record : 0;
  }
  void Set(int32_t goods, uint32_t record) { overlay_[goods] = record; }
  // An id too large for the mirror: the scale is read again when next needed.
  void Lose() { base_ = nullptr; }
  bool Changed() const { return !overlay_.empty(); }
  std::vector<Held> Result() const {
    std::vector<Held> added, out;
    added.reserve(overlay_.size());
    for (const auto& [goods, record] : overlay_)
      if (record != 0) added.push_back({goods, record});
    std::sort(added.begin(), added.end(), ByGoods);
    out.reserve(base_->size() + added.size());
    auto kept = [&](const Held& h) { return overlay_.count(h.goods) == 0; };
    auto b = base_->begin();
    for (const Held& h : added) {
      for (; b != base_->end() && b->goods < h.goods; ++b)
        if (kept(*b)) out.push_back(*b);
      out.push_back(h);
    }
    for (; b != base_->end(); ++b)
      if (kept(*b)) out.push_back(*b);
    return out;
  }

 private:
  const std::vector<Held>* base_;
  // A whole file's changes make 10,000 entries: taken from one buffer, not
  // one allocation each.
  std::pmr::monotonic_buffer_resource arena_;
  std::pmr::unordered_map<int32_t, uint32_t> overlay_{&arena_};
};

Ledger::Ledger() = default;

Ledger::~Ledger() {
  st_.reset();  // statements go before their connection
  sqlite3_close(db_);
}

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
  if (s.ok()) {
    st_ = std::make_unique<Statements>();
    if (!st_->Prepare(db_)) s = Failed("open");
  }
  if (!s.ok()) {
    st_.reset();
    sqlite3_close(db_);
    db_ = nullptr;
  }
  return s;
}

Status Ledger::Record(int scale, const std::string& file, int64_t when,
                      const std::vector<LedgerChange>& changes, LedgerOutcome outcome) {
  if (!db_ || !st_) return Failed("record in");
  NoticeOtherWriters();
  if (Status s = OpenTransaction(); !s.ok()) return s;
  int64_t fileId = 0;
  bool ok = MarkOutcome(scale, when, outcome) && ExtendHistory(scale, changes) &&
            FileId(file, fileId);
  HeldDraft draft(ok ? Mirror(scale) : nullptr, changes.size());
  for (size_t i = 0; ok && i < changes.size(); ++i)
    ok = ApplyChange(scale, fileId, when, changes[i], draft);
  if (Status s = CloseTransaction(ok, "record in"); !s.ok()) return s;
  if (!draft.Known())
    held_.erase(scale);
  else if (draft.Changed())
    held_[scale] = draft.Result();
  return Status::OK();
}

// Writes one change unless the scale already holds exactly that.
bool Ledger::ApplyChange(int scale, int64_t fileId, int64_t when, const LedgerChange& c,
                         HeldDraft& draft) {
  int64_t id = 0;
  if (c.bytes && !CachedRecordId(c, id)) return false;
  sqlite3_stmt* s = c.bytes ? st_->hold.get() : st_->drop.get();
  if (draft.Known()) {
    const uint32_t was = draft.Find(c.goods);
    if (was == id) return true;  // the same record, or a deletion of nothing
    if (was != 0) ++displaced_;
    if (was != 0 && c.bytes) s = st_->replace.get();
    if (id > UINT32_MAX)
      draft.Lose();
    else
      draft.Set(c.goods, static_cast<uint32_t>(id));
  }
  sqlite3_bind_int(s, 1, scale);
  sqlite3_bind_int(s, 2, c.goods);
  if (c.bytes) {
    sqlite3_bind_int64(s, 3, id);
    sqlite3_bind_int64(s, 4, fileId);
    sqlite3_bind_int64(s, 5, when);
  }
  return StepDone(s);
}

// The scale's goods -> record as the file has them, read once and then kept
// in step by Record; null when its ids do not fit the mirror.
const std::vector<Ledger::Held>* Ledger::Mirror(int scale) {
  if (auto it = held_.find(scale); it != held_.end()) return &it->second;
  sqlite3_stmt* q = st_->loadHeld.get();
  sqlite3_bind_int(q, 1, scale);
  std::vector<Held> held;
  bool fits = true;
  while (fits && sqlite3_step(q) == SQLITE_ROW) {
    const int64_t record = sqlite3_column_int64(q, 1);
    fits = record > 0 && record <= UINT32_MAX;
    held.push_back({sqlite3_column_int(q, 0), static_cast<uint32_t>(record)});
  }
  sqlite3_reset(q);
  if (!fits) return nullptr;
  return &(held_[scale] = std::move(held));
}

// Another connection's commit (a tool, a second service by mistake) may
// have changed any row the mirror stands for.
void Ledger::NoticeOtherWriters() {
  sqlite3_stmt* q = st_->dataVersion.get();
  const int64_t version = sqlite3_step(q) == SQLITE_ROW ? sqlite3_column_int64(q, 0) : -1;
  sqlite3_reset(q);
  if (version == -1 || version != dataVersion_) ForgetMirror();
  dataVersion_ = version;
}

void Ledger::ForgetMirror() {
  held_.clear();
  recordIds_.clear();
  lastFile_.clear();
}

Status Ledger::OpenTransaction() {
  return Exec(inGroup_ ? "SAVEPOINT delivery" : "BEGIN IMMEDIATE");
}

// Ids handed out inside a rolled back transaction may come back for other
// bytes, so whatever the mirror learnt meanwhile goes with it.
Status Ledger::CloseTransaction(bool ok, const char* what) {
  Status s = ok ? Exec(inGroup_ ? "RELEASE delivery" : "COMMIT") : Failed(what);
  if (s.ok()) return s;
  Exec(inGroup_ ? "ROLLBACK TO delivery; RELEASE delivery" : "ROLLBACK");
  ForgetMirror();
  return s;
}

Status Ledger::BeginGroup() {
  if (!db_ || !st_ || inGroup_) return Failed("group in");
  NoticeOtherWriters();
  if (Status s = Exec("BEGIN IMMEDIATE"); !s.ok()) return s;
  inGroup_ = true;
  return Status::OK();
}

Status Ledger::EndGroup() {
  if (!inGroup_) return Failed("group in");
  inGroup_ = false;
  Status s = Exec("COMMIT");
  if (!s.ok()) {
    Exec("ROLLBACK");
    ForgetMirror();
  }
  return s;
}

Status Ledger::Prune() {
  if (!db_ || !st_ || inGroup_) return Failed("prune");
  NoticeOtherWriters();
  // One pass over the holdings each, instead of a look-up per record.
  Status s = Exec(
      "BEGIN IMMEDIATE;"
      "DELETE FROM records WHERE id NOT IN (SELECT record FROM holds);"
      "DELETE FROM files WHERE id NOT IN (SELECT file FROM holds);"
      "COMMIT");
  if (!s.ok()) Exec("ROLLBACK");
  // Pruned ids are reused for other bytes: none may stay cached.
  recordIds_.clear();
  lastFile_.clear();
  if (s.ok()) {
    displaced_ = 0;
    prunedSinceOpen_ = true;
  }
  return s;
}

// Ends the scale's delivery in flight, whatever its outcome.
bool Ledger::MarkOutcome(int scale, int64_t when, LedgerOutcome outcome) {
  sqlite3_stmt* mark = outcome.failed  ? st_->endFailed.get()
                       : outcome.whole ? st_->endWhole.get()
                                       : st_->endPlain.get();
  sqlite3_bind_int(mark, 1, scale);
  sqlite3_bind_int64(mark, 2, when);
  return StepDone(mark);
}

// The same changes on the same history give the same history again; a
// scale whose history is not known keeps none.
bool Ledger::ExtendHistory(int scale, const std::vector<LedgerChange>& changes) {
  if (changes.empty()) return true;
  sqlite3_stmt* read = st_->readHistory.get();
  sqlite3_bind_int(read, 1, scale);
  const int rc = sqlite3_step(read);
  const auto before = rc == SQLITE_ROW ? static_cast<uint64_t>(sqlite3_column_int64(read, 0)) : 0;
  sqlite3_reset(read);
  if (rc == SQLITE_DONE) return true;
  if (rc != SQLITE_ROW) return false;
  sqlite3_stmt* write = st_->writeHistory.get();
  sqlite3_bind_int(write, 1, scale);
  sqlite3_bind_int64(write, 2, static_cast<int64_t>(Mix(before, ChangesDigest(changes))));
  return StepDone(write);
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

bool Ledger::FileId(const std::string& file, int64_t& id) {
  if (!lastFile_.empty() && file == lastFile_) {
    id = lastFileId_;
    return true;
  }
  sqlite3_stmt* insert = st_->insertFile.get();
  sqlite3_stmt* find = st_->findFile.get();
  sqlite3_bind_text(insert, 1, file.c_str(), -1, SQLITE_STATIC);
  sqlite3_bind_text(find, 1, file.c_str(), -1, SQLITE_STATIC);
  const bool found = StepDone(insert) && sqlite3_step(find) == SQLITE_ROW;
  if (found) id = sqlite3_column_int64(find, 0);
  sqlite3_reset(find);
  if (found) {
    lastFile_ = file;
    lastFileId_ = id;
  }
  return found;
}

// The record's id, stored now if no scale held these bytes before.
bool Ledger::CachedRecordId(const LedgerChange& c, int64_t& id) {
  const std::string_view key(reinterpret_cast<const char*>(c.bytes), c.length);
  if (auto it = recordIds_.find(key); it != recordIds_.end()) {
    id = it->second;
    return true;
  }
  // Looked up first: a new price list's records are new once, then found
  // for every other scale of the profile.
  sqlite3_stmt* find = st_->findRecord.get();
  sqlite3_bind_blob(find, 1, c.bytes, static_cast<int>(c.length), SQLITE_STATIC);
  const bool found = sqlite3_step(find) == SQLITE_ROW;
  if (found) id = sqlite3_column_int64(find, 0);
  sqlite3_reset(find);
  if (!found) {
    sqlite3_stmt* insert = st_->insertRecord.get();
    sqlite3_bind_blob(insert, 1, c.bytes, static_cast<int>(c.length), SQLITE_STATIC);
    if (!StepDone(insert)) return false;
    id = sqlite3_last_insert_rowid(db_);
  }
  if (recordIds_.size() >= kMaxCachedRecords) recordIds_.clear();
  recordIds_.emplace(key, id);
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
  if (!db_ || !st_) return Failed("begin in");
  NoticeOtherWriters();
  if (Status s = OpenTransaction(); !s.ok()) return s;
  sqlite3_stmt* drop = st_->beginDrop.get();
  sqlite3_stmt* mark = st_->beginMark.get();
  sqlite3_bind_int(drop, 1, scale);
  sqlite3_bind_int(mark, 1, scale);
  const bool dropOk = StepDone(drop);
  const bool dropped = dropOk && sqlite3_changes(db_) > 0;
  const bool ok = dropOk && StepDone(mark);
  if (Status s = CloseTransaction(ok, "begin in"); !s.ok()) return s;
  if (dropped) held_.erase(scale);
  return Status::OK();
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
