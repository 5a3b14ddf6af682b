// Prepared SQLite statements for the ledger's files: owned, so that every
// path out of a function finalizes them.
#pragma once

#include <sqlite3.h>

#include <memory>

namespace tv::platform::sqlite {

struct StmtCloser {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtCloser>;

// Null when `sql` does not prepare; sqlite3_errmsg says why.
inline Stmt Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) return nullptr;
  return Stmt(s);
}

// One step, and the statement made ready for the next binding.
inline bool StepDone(sqlite3_stmt* s) {
  const int rc = sqlite3_step(s);
  sqlite3_reset(s);
  return rc == SQLITE_DONE || rc == SQLITE_ROW;
}

}  // namespace tv::platform::sqlite
