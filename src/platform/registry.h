// The configuration store: the stand-in for the Windows registry.
//
// One SQLite file per user holds keys (backslash-separated paths such as
// "SOFTWARE\Orvane Group\Tovalin+\Devices") and their values.  Key paths and
// value names compare without regard to case, as on Windows.  Values have one
// of the two registry types the service uses: REG_SZ strings and REG_DWORD
// 32-bit integers.  Every write is its own transaction (or joins one that a
// RegistryTransaction opened) and the file runs in WAL mode with a busy
// time-out, so a crash never leaves it half-written and another process (the store CLI) can read or edit it while the service runs.
//
// A Registry object mirrors the registry API the service was written
// against: it has one "current key" that OpenKey sets and CloseKey clears,
// and the value operations act on that key.  It is not thread-safe; threads
// that share one object guard each open..close sequence (GuardedRegistry).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace tv::platform {

// A failed read or write: missing integer value, wrong type, no current key,
// or a store error.  The settings routines let it through; everything else
// turns it into a Boolean.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class RegType { String = 1, DWord = 4 };  // REG_SZ, REG_DWORD

struct RegValue {
  std::string name;
  RegType type = RegType::String;
  std::string text;     // for String
  uint32_t number = 0;  // for DWord
};

class Registry {
 public:
  // Opens (creating when missing) the store file at `path`.
  // Throws RegistryError when the file cannot be opened.
  explicit Registry(const std::string& path);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // The store file of the current user: $TOVALINK_HOME/registry.db.
  static std::string DefaultPath();

  // Makes `key` the current key.  With `create`, the key and all missing
  // parents are created; without it, a missing key gives false.
  bool OpenKey(const std::string& key, bool create);
  bool OpenKeyReadOnly(const std::string& key);
  void CloseKey();
  bool HasCurrentKey() const { return current_.has_value(); }

  bool KeyExists(const std::string& key);
  bool CreateKey(const std::string& key);
  // Deletes the key, its sub-keys and all their values; false when missing.
  bool DeleteKey(const std::string& key);

  // Value operations on the current key.  Reads throw RegistryError when
  // there is no current key; ReadInteger/ReadBool also when the value is
  // missing or not a DWORD.  A missing string reads as "".
  bool ValueExists(const std::string& name);
  std::string ReadString(const std::string& name);
  int32_t ReadInteger(const std::string& name);
  bool ReadBool(const std::string& name);
  std::optional<RegValue> ReadValue(const std::string& name);
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);
  void WriteBool(const std::string& name, bool value);
  bool DeleteValue(const std::string& name);

  // For the store CLI: the values of the current key and its direct
  // sub-keys (their display names), in a stable order.
  std::vector<RegValue> ListValues();
  std::vector<std::string> ListSubKeys();

  // Groups what follows into one transaction until CommitTransaction:
  // other connections see all of its writes or none, and a read-only one
  // reads every value from the same snapshot.  Key creation and deletion
  // inside it join it.  Throws RegistryError when the store is busy.
  void BeginTransaction(bool write);
  void CommitTransaction();
  void RollbackTransaction();
  bool InTransaction() const;

 private:
  void Exec(const char* sql);
  std::string RequireKey() const;
  void EnsureKey(const std::string& norm, const std::string& display);

  sqlite3* db_ = nullptr;
  std::optional<std::string> current_;  // normalised path of the current key
  bool readOnly_ = false;
};

// BeginTransaction .. CommitTransaction on one Registry; rolled back when
// the scope is left without Commit (an exception on the way).  Inside a
// transaction already open it joins that one and leaves its end to it.
class RegistryTransaction {
 public:
  RegistryTransaction(Registry& reg, bool write) : reg_(reg), done_(reg.InTransaction()) {
    if (!done_) reg_.BeginTransaction(write);
  }
  ~RegistryTransaction() {
    if (!done_) reg_.RollbackTransaction();
  }
  RegistryTransaction(const RegistryTransaction&) = delete;
  RegistryTransaction& operator=(const RegistryTransaction&) = delete;
  void Commit() {
    if (!done_) reg_.CommitTransaction();
    done_ = true;
  }

 private:
  Registry& reg_;
  bool done_;
};

// Normalises a key path: backslashes collapsed, no leading/trailing
// separators.  Case is kept (for display); comparisons fold case.
std::string NormaliseKeyPath(const std::string& key);

// One Registry shared by several threads (the engine, the parameter server
// and the status server): each open..close sequence holds the lock.
class GuardedRegistry {
 public:
  explicit GuardedRegistry(const std::string& path) : reg_(path) {}
  class Access {
   public:
    explicit Access(GuardedRegistry& g) : lock_(g.mutex_), reg_(g.reg_) {}
    Registry* operator->() { return &reg_; }
    Registry& operator*() { return reg_; }
   private:
    std::unique_lock<std::mutex> lock_;
    Registry& reg_;
  };
  Access Lock() { return Access(*this); }

 private:
  std::mutex mutex_;
  Registry reg_;
};

}  // namespace tv::platform
