// The configuration store: the stand-in for the Windows registry.
//
// One SQLite file per user holds keys (backslash-separated paths such as
// "SOFTWARE\Orvane Group\Tovalin+\Devices") and their values.  Key paths and
// value names compare without regard to case, as on Windows.  Values have one
// of the two registry types the service uses: REG_SZ strings and REG_DWORD
// 32-bit integers.  Every write is its own transaction (or joins one that a
// RegistryTransaction opened) and the file runs in WAL mode with a busy
// time-out, so a crash never leaves it half-written and another process
// (the store CLI) can read or edit it while the service runs.
//
// Value operations act on a RegistryKey, an open key handle that closes
// itself when it leaves scope.  A Registry is not thread-safe; threads that
// share one go through GuardedRegistry, which holds one lock for each
// sequence of key operations.
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

class Registry;

// An open key of the store.  Reads and writes act on this key; the handle
// closes when it goes out of scope, when its key (or a parent) is deleted
// through the same Registry, when the guarded sequence that opened it ends,
// and when the Registry goes.  Every operation on a closed handle throws.
// Errors name the value and the key, e.g.
// "ForceDi30 in HKCU\SOFTWARE\Orvane Group\Tovalin+: missing".
class RegistryKey {
 public:
  RegistryKey() = default;  // not open
  ~RegistryKey() { Close(); }
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  bool IsOpen() const { return reg_ != nullptr; }
  explicit operator bool() const { return IsOpen(); }
  // The key as opened, with HKCU in front: for messages.
  std::string FullName() const;
  void Close();

  // ReadInteger/ReadBool throw when the value is missing or not a
  // REG_DWORD, ReadString when it is not a REG_SZ; a missing string reads
  // as "".  Writes throw on a handle opened read-only.
  bool ValueExists(const std::string& name);
  std::optional<RegValue> ReadValue(const std::string& name);
  std::string ReadString(const std::string& name);
  int32_t ReadInteger(const std::string& name);
  bool ReadBool(const std::string& name);
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);
  void WriteBool(const std::string& name, bool value);
  bool DeleteValue(const std::string& name);

  // For the store CLI: the key's values and the display names of its
  // direct sub-keys, in a stable order.
  std::vector<RegValue> ListValues();
  std::vector<std::string> ListSubKeys();

 private:
  friend class Registry;
  RegistryKey(Registry& reg, std::string path, bool readOnly);
  Registry& Require(const std::string& name) const;
  Registry& RequireWritable(const std::string& name) const;
  std::string Fail(const std::string& name, const char* what) const;
  void Adopt(RegistryKey& other) noexcept;

  Registry* reg_ = nullptr;
  std::string path_;  // normalised, case kept
  std::string norm_;  // normalised and case-folded: the stored form
  bool readOnly_ = false;
};

class Registry {
 public:
  // Opens (creating when missing) the store file at `path`.
  // Throws RegistryError when the file cannot be opened.
  explicit Registry(const std::string& path);
  // Closes every key handle still open on it.
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // The store file of the current user: $TOVALINK_HOME/registry.db.
  static std::string DefaultPath();

  // Opens `key`.  With `create`, the key and all missing parents are
  // created; without it, a missing key gives a closed handle.
  RegistryKey Open(const std::string& key, bool create);
  RegistryKey OpenReadOnly(const std::string& key);
  // Closes every open handle (the end of a guarded sequence).
  void CloseAll();
  size_t OpenKeyCount() const { return open_.size(); }

  // Throws RegistryError when this connection cannot write the store (a
  // file it may only read, a side file of another user).  Writes nothing;
  // call it outside a transaction.
  void ProveWritable();

  bool KeyExists(const std::string& key);
  bool CreateKey(const std::string& key);
  // Deletes the key, its sub-keys and all their values, closing the handles
  // open on them; false when missing.
  bool DeleteKey(const std::string& key);

  // Groups what follows on this connection into one transaction until
  // CommitTransaction: other connections see all of its writes or none,
  // and a read transaction reads every value from the same snapshot.  Key
  // creation and deletion and every read and write through a handle of
  // this Registry join it; other Registry objects on the same file do not.
  // Through a GuardedRegistry a transaction ends within the sequence that
  // began it.  Throws RegistryError when the store is busy.
  void BeginTransaction(bool write);
  void CommitTransaction();
  void RollbackTransaction();
  bool InTransaction() const;

 private:
  friend class RegistryKey;

  void Exec(const char* sql);
  void EnsureKey(const std::string& norm, const std::string& display);
  void Track(RegistryKey* key) { open_.push_back(key); }
  void Untrack(RegistryKey* key);
  void Retrack(RegistryKey* from, RegistryKey* to);

  std::optional<RegValue> ReadValueAt(const std::string& key, const std::string& name);
  void WriteValueAt(const std::string& key, const RegValue& value);
  bool DeleteValueAt(const std::string& key, const std::string& name);
  std::vector<RegValue> ListValuesAt(const std::string& key);
  std::vector<std::string> ListSubKeysAt(const std::string& key);

  sqlite3* db_ = nullptr;
  std::vector<RegistryKey*> open_;  // handles open on this store, for closing
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
// and the status server).  Lock() starts a sequence: it holds the lock for
// as long as the Access lives, and every key opened through it is closed
// when the sequence ends, so no handle acts on the store unguarded.
class GuardedRegistry {
 public:
  explicit GuardedRegistry(const std::string& path) : reg_(path) {}
  class Access {
   public:
    explicit Access(GuardedRegistry& g) : lock_(g.mutex_), reg_(g.reg_) {}
    ~Access() { reg_.CloseAll(); }
    Access(const Access&) = delete;
    Access& operator=(const Access&) = delete;
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
