#include "platform/registry.h"

#include <sqlite3.h>

#include <cctype>

#include "platform/env.h"
#include "platform/fs.h"

namespace tv::platform {
namespace {

std::string Fold(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

// A prepared statement that finalizes itself.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) != SQLITE_OK)
      throw RegistryError(std::string("store: ") + sqlite3_errmsg(db));
  }
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt& Bind(int i, const std::string& v) {
    sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& Bind(int i, int64_t v) {
    sqlite3_bind_int64(s_, i, v);
    return *this;
  }
  Stmt& BindNull(int i) {
    sqlite3_bind_null(s_, i);
    return *this;
  }
  // True while a row is available.
  bool Step() {
    int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw RegistryError(std::string("store: ") + sqlite3_errmsg(db_));
  }
  std::string Text(int col) {
    const unsigned char* t = sqlite3_column_text(s_, col);
    return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(s_, col)) : std::string();
  }
  int64_t Int(int col) { return sqlite3_column_int64(s_, col); }

 private:
  sqlite3* db_;
  sqlite3_stmt* s_ = nullptr;
};

// BEGIN IMMEDIATE .. COMMIT, rolled back when an exception leaves the scope.
// Inside a transaction the caller opened it joins that one instead.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db), outer_(sqlite3_get_autocommit(db) == 0) {
    if (!outer_) Run("BEGIN IMMEDIATE");
  }
  ~Transaction() {
    if (!done_ && !outer_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit() {
    if (!outer_) Run("COMMIT");
    done_ = true;
  }

 private:
  void Run(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
      throw RegistryError(std::string("store: ") + sqlite3_errmsg(db_));
  }
  sqlite3* db_;
  bool outer_;
  bool done_ = false;
};

// A row of (display, type, sval, ival).
RegValue RowValue(Stmt& s) {
  RegValue v;
  v.name = s.Text(0);
  v.type = s.Int(1) == static_cast<int>(RegType::DWord) ? RegType::DWord : RegType::String;
  v.text = s.Text(2);
  v.number = static_cast<uint32_t>(s.Int(3));
  return v;
}

}  // namespace

std::string NormaliseKeyPath(const std::string& key) {
  std::string out;
  for (char c : key) {
    if (c == '/') c = '\\';
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

Registry::Registry(const std::string& path) {
  Env::Default()->CreateDirectories(ExtractFilePath(path));
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw RegistryError("cannot open the store " + path + ": " + msg);
  }
  sqlite3_busy_timeout(db_, 5000);
  try {
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
    Exec(
        "CREATE TABLE IF NOT EXISTS keys(path TEXT PRIMARY KEY, display TEXT NOT NULL);"
        "CREATE TABLE IF NOT EXISTS vals(key TEXT NOT NULL, name TEXT NOT NULL, display TEXT NOT NULL,"
        " type INTEGER NOT NULL, sval TEXT, ival INTEGER, PRIMARY KEY(key, name));");
  } catch (...) {
    // No destructor runs for a constructor that throws (a full disk here).
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

Registry::~Registry() {
  CloseAll();
  sqlite3_close(db_);
}

std::string Registry::DefaultPath() { return StateHome() + "/registry.db"; }

void Registry::Exec(const char* sql) {
  for (int attempt = 0;; ++attempt) {
    char* err = nullptr;
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &err);
    if (rc == SQLITE_OK) return;
    std::string msg = err ? err : "error";
    sqlite3_free(err);
    if (rc != SQLITE_BUSY || attempt > 10) throw RegistryError("store: " + msg);
  }
}

void Registry::EnsureKey(const std::string& norm, const std::string& display) {
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = norm.find('\\', pos + 1);
    std::string prefix = norm.substr(0, pos);
    std::string shown = display.substr(0, pos);
    Stmt s(db_, "INSERT OR IGNORE INTO keys(path, display) VALUES(?1, ?2)");
    s.Bind(1, prefix).Bind(2, shown).Step();
  }
}

// SQLite opens a file it may not write read-only without a word, and even
// takes the write lock then: only a write shows it.
void Registry::ProveWritable() {
  if (sqlite3_db_readonly(db_, "main") == 1)
    throw RegistryError("store: attempt to write a readonly database");
  Transaction t(db_);
  Stmt(db_, "INSERT OR REPLACE INTO keys(path, display) VALUES(char(1), '')").Step();
}  // rolled back

bool Registry::KeyExists(const std::string& key) {
  std::string norm = Fold(NormaliseKeyPath(key));
  if (norm.empty()) return true;
  Stmt s(db_, "SELECT 1 FROM keys WHERE path = ?1");
  return s.Bind(1, norm).Step();
}

bool Registry::CreateKey(const std::string& key) {
  std::string display = NormaliseKeyPath(key);
  if (display.empty()) return true;
  try {
    Transaction t(db_);
    EnsureKey(Fold(display), display);
    t.Commit();
    return true;
  } catch (const RegistryError&) {
    return false;
  }
}

RegistryKey Registry::Open(const std::string& key, bool create) {
  std::string display = NormaliseKeyPath(key);
  if (!KeyExists(display)) {
    if (!create || !CreateKey(display)) return {};
  }
  return RegistryKey(*this, display, false);
}

RegistryKey Registry::OpenReadOnly(const std::string& key) {
  std::string display = NormaliseKeyPath(key);
  if (!KeyExists(display)) return {};
  return RegistryKey(*this, display, true);
}

void Registry::CloseAll() {
  while (!open_.empty()) open_.back()->Close();
}

void Registry::Untrack(RegistryKey* key) { std::erase(open_, key); }

void Registry::Retrack(RegistryKey* from, RegistryKey* to) {
  for (RegistryKey*& k : open_)
    if (k == from) k = to;
}

bool Registry::DeleteKey(const std::string& key) {
  std::string norm = Fold(NormaliseKeyPath(key));
  if (norm.empty() || !KeyExists(norm)) return false;
  Transaction t(db_);
  Stmt k(db_, "DELETE FROM keys WHERE path = ?1 OR substr(path, 1, length(?1) + 1) = ?1 || '\\'");
  k.Bind(1, norm).Step();
  Stmt v(db_, "DELETE FROM vals WHERE key = ?1 OR substr(key, 1, length(?1) + 1) = ?1 || '\\'");
  v.Bind(1, norm).Step();
  t.Commit();
  // Like a handle to a deleted Windows key: it no longer reads or writes.
  std::vector<RegistryKey*> gone;
  for (RegistryKey* h : open_)
    if (h->norm_ == norm || h->norm_.rfind(norm + "\\", 0) == 0) gone.push_back(h);
  for (RegistryKey* h : gone) h->Close();
  return true;
}

std::optional<RegValue> Registry::ReadValueAt(const std::string& key, const std::string& name) {
  Stmt s(db_, "SELECT display, type, sval, ival FROM vals WHERE key = ?1 AND name = ?2");
  if (!s.Bind(1, key).Bind(2, Fold(name)).Step()) return std::nullopt;
  return RowValue(s);
}

void Registry::WriteValueAt(const std::string& key, const RegValue& v) {
  Stmt s(db_,
         "INSERT INTO vals(key, name, display, type, sval, ival) VALUES(?1, ?2, ?3, ?4, ?5, ?6)"
         " ON CONFLICT(key, name) DO UPDATE SET display = ?3, type = ?4, sval = ?5, ival = ?6");
  s.Bind(1, key).Bind(2, Fold(v.name)).Bind(3, v.name).Bind(4, static_cast<int64_t>(v.type));
  if (v.type == RegType::String)
    s.Bind(5, v.text).BindNull(6);
  else
    s.BindNull(5).Bind(6, static_cast<int64_t>(v.number));
  s.Step();
}

bool Registry::DeleteValueAt(const std::string& key, const std::string& name) {
  Stmt s(db_, "DELETE FROM vals WHERE key = ?1 AND name = ?2");
  s.Bind(1, key).Bind(2, Fold(name)).Step();
  return sqlite3_changes(db_) > 0;
}

std::vector<RegValue> Registry::ListValuesAt(const std::string& key) {
  std::vector<RegValue> out;
  Stmt s(db_, "SELECT display, type, sval, ival FROM vals WHERE key = ?1 ORDER BY rowid");
  s.Bind(1, key);
  while (s.Step()) out.push_back(RowValue(s));
  return out;
}

void Registry::BeginTransaction(bool write) {
  // IMMEDIATE takes the write lock up front, so a writer waits at BEGIN for
  // the busy time-out instead of failing half-way through.
  Exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
}

void Registry::CommitTransaction() { Exec("COMMIT"); }

bool Registry::InTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

void Registry::RollbackTransaction() {
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::vector<std::string> Registry::ListSubKeysAt(const std::string& key) {
  std::vector<std::string> out;
  Stmt s(db_,
         "SELECT display FROM keys WHERE substr(path, 1, length(?1) + 1) = ?1 || '\\'"
         " AND instr(substr(path, length(?1) + 2), '\\') = 0 ORDER BY path");
  s.Bind(1, key);
  while (s.Step()) out.push_back(s.Text(0));
  return out;
}

RegistryKey::RegistryKey(Registry& reg, std::string path, bool readOnly)
    : reg_(&reg), path_(std::move(path)), norm_(Fold(path_)), readOnly_(readOnly) {
  reg_->Track(this);
}

RegistryKey::RegistryKey(RegistryKey&& other) noexcept { Adopt(other); }

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    Close();
    Adopt(other);
  }
  return *this;
}

void RegistryKey::Adopt(RegistryKey& other) noexcept {
  reg_ = other.reg_;
  path_ = std::move(other.path_);
  norm_ = std::move(other.norm_);
  readOnly_ = other.readOnly_;
  if (reg_) reg_->Retrack(&other, this);
  other.reg_ = nullptr;
}

void RegistryKey::Close() {
  if (!reg_) return;
  reg_->Untrack(this);
  reg_ = nullptr;
}

std::string RegistryKey::FullName() const { return path_.empty() ? "HKCU" : "HKCU\\" + path_; }

std::string RegistryKey::Fail(const std::string& name, const char* what) const {
  return name + " in " + FullName() + ": " + what;
}

Registry& RegistryKey::Require(const std::string& name) const {
  if (!reg_) throw RegistryError(Fail(name, "the key is not open"));
  return *reg_;
}

Registry& RegistryKey::RequireWritable(const std::string& name) const {
  Registry& reg = Require(name);
  if (readOnly_) throw RegistryError(Fail(name, "the key is open read-only"));
  return reg;
}

std::optional<RegValue> RegistryKey::ReadValue(const std::string& name) {
  return Require(name).ReadValueAt(norm_, name);
}

bool RegistryKey::ValueExists(const std::string& name) { return ReadValue(name).has_value(); }

std::string RegistryKey::ReadString(const std::string& name) {
  auto v = ReadValue(name);
  if (!v) return {};
  if (v->type != RegType::String) throw RegistryError(Fail(name, "not a REG_SZ"));
  return v->text;
}

int32_t RegistryKey::ReadInteger(const std::string& name) {
  auto v = ReadValue(name);
  if (!v) throw RegistryError(Fail(name, "missing"));
  if (v->type != RegType::DWord) throw RegistryError(Fail(name, "not a REG_DWORD"));
  return static_cast<int32_t>(v->number);
}

bool RegistryKey::ReadBool(const std::string& name) { return ReadInteger(name) != 0; }

void RegistryKey::WriteString(const std::string& name, const std::string& value) {
  RequireWritable(name).WriteValueAt(norm_, RegValue{name, RegType::String, value, 0});
}

void RegistryKey::WriteInteger(const std::string& name, int32_t value) {
  RequireWritable(name).WriteValueAt(norm_, RegValue{name, RegType::DWord, {}, static_cast<uint32_t>(value)});
}

void RegistryKey::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

bool RegistryKey::DeleteValue(const std::string& name) {
  return RequireWritable(name).DeleteValueAt(norm_, name);
}

std::vector<RegValue> RegistryKey::ListValues() { return Require("values").ListValuesAt(norm_); }

std::vector<std::string> RegistryKey::ListSubKeys() { return Require("sub-keys").ListSubKeysAt(norm_); }

}  // namespace tv::platform
