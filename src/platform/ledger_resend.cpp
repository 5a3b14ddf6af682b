// The ledger's small table of resend requests.  It is made on first use, so
// that a ledger written before it existed needs nothing done to it.
#include <sqlite3.h>

#include <memory>

#include "platform/ledger.h"
#include "platform/sqlitestmt.h"

namespace tv::platform {
namespace {

constexpr const char* kTable =
    "CREATE TABLE IF NOT EXISTS resends(file TEXT PRIMARY KEY, scale INTEGER NOT NULL,"
    " from_scale INTEGER NOT NULL, records INTEGER NOT NULL, who TEXT NOT NULL,"
    " asked INTEGER NOT NULL);";

using sqlite::Prepare;
using sqlite::Stmt;

void BindText(sqlite3_stmt* s, int i, const std::string& text) {
  sqlite3_bind_text(s, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string Text(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? reinterpret_cast<const char*>(t) : "";
}

}  // namespace

Status Ledger::NoteResend(const ResendRequest& r) {
  if (Status s = Exec(kTable); !s.ok()) return s;
  Stmt insert =
      Prepare(db_,
              "INSERT OR REPLACE INTO resends(file, scale, from_scale, records, who, asked)"
              " VALUES(?, ?, ?, ?, ?, ?)");
  if (!insert) return Failed("note resend");
  BindText(insert.get(), 1, r.file);
  sqlite3_bind_int(insert.get(), 2, r.scale);
  sqlite3_bind_int(insert.get(), 3, r.from);
  sqlite3_bind_int64(insert.get(), 4, r.records);
  BindText(insert.get(), 5, r.who);
  sqlite3_bind_int64(insert.get(), 6, r.asked);
  return sqlite3_step(insert.get()) == SQLITE_DONE ? Status::OK() : Failed("note resend");
}

Status Ledger::WithdrawResend(const std::string& file) {
  Stmt remove = Prepare(db_, "DELETE FROM resends WHERE file = ?");
  if (!remove) return Failed("withdraw resend");
  BindText(remove.get(), 1, file);
  return sqlite3_step(remove.get()) == SQLITE_DONE ? Status::OK() : Failed("withdraw resend");
}

Status Ledger::TakeResendRequests(std::vector<ResendRequest>& out) {
  out.clear();
  // Most cycles find none: they look without taking the write lock.
  Stmt any = Prepare(db_, "SELECT 1 FROM resends LIMIT 1");
  if (!any || sqlite3_step(any.get()) != SQLITE_ROW) return Status::OK();
  any.reset();
  if (Status s = Exec("BEGIN IMMEDIATE"); !s.ok()) return s;
  Stmt select = Prepare(db_,
                        "SELECT file, scale, from_scale, records, who, asked FROM resends"
                        " ORDER BY asked, file");
  bool ok = select != nullptr;
  int rc = SQLITE_DONE;
  while (ok && (rc = sqlite3_step(select.get())) == SQLITE_ROW) {
    ResendRequest r;
    r.file = Text(select.get(), 0);
    r.scale = sqlite3_column_int(select.get(), 1);
    r.from = sqlite3_column_int(select.get(), 2);
    r.records = sqlite3_column_int64(select.get(), 3);
    r.who = Text(select.get(), 4);
    r.asked = sqlite3_column_int64(select.get(), 5);
    out.push_back(std::move(r));
  }
  select.reset();
  ok = ok && rc == SQLITE_DONE && (out.empty() || Exec("DELETE FROM resends").ok());
  if (ok && Exec("COMMIT").ok()) return Status::OK();
  const Status failed = Failed("take resend requests");
  Exec("ROLLBACK");
  out.clear();
  return failed;
}

}  // namespace tv::platform
