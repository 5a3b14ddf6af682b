// CFiles: everything the service does with export files.  It finds waiting
// files in the export directory and its Unsent folder, reads goods files
// into line lists, writes the delivery log "sclogo.csv" and parks copies of
// undelivered files for single scales.
//
// Paths go in and come out in the stored (Windows) form the configuration
// uses, e.g. "C:\SCALEUPLOAD\ExportDir\*.*"; they are mapped onto the host
// only when a file is touched, and touched only through the Env given at
// construction.  A failure the caller cannot see (a lost log line, a copy
// not parked, a file not deleted) goes to the service log with its reason.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/settings.h"
#include "files/linelists.h"
#include "files/undeletable.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/regional.h"

namespace tv {

// Why ParseImportFile answered false.
enum class TImportRefusal {
  kNone,
  kMissing,        // gone since it was listed: nothing to keep
  kUnreadable,     // not opened or not read to its end
  kTooLarge,       // larger than MaxFileSizeMB, not read
  kNothingToSend,  // read, but no A, D or T line filed
};

class CFiles {
 public:
  // `settings`, `clock` and `env` must outlive the object.  The current
  // settings are read at every call, so a reload takes effect at once.
  CFiles(const TSettingsHolder& settings, platform::Regional host,
         const platform::Clock& clock = platform::SystemClock(),
         platform::Env& env = *platform::Env::Default());
  CFiles(const CFiles&) = delete;
  CFiles& operator=(const CFiles&) = delete;

  // A file in the export directory is listed only once its size and
  // last-write time, as this object saw them, have not changed for this
  // long; it may still be being written.
  static constexpr std::chrono::milliseconds kQuietPeriod{2000};
  void SetQuietPeriod(std::chrono::milliseconds period) { quietPeriod_ = period; }

  // ---- Discovery (event timer and cycle) ----
  // True when the mask's directory or its Unsent folder holds a file that
  // matches; every failure gives false.
  bool HasPendingFiles(const std::string& mask);
  // A file the export directory's watcher saw complete (renamed in, or
  // closed after writing), as the host names it: while it keeps the size
  // and time stamp it has now, it needs no quiet period.
  void MarkComplete(const std::string& hostPath);
  // Clears `commonFiles`, fills it oldest first and appends ".xml" files to
  // `keyboardFiles` (which is not cleared).  Only regular files with names
  // that map onto the host and have been quiet (kQuietPeriod) are listed;
  // anything else is warned about once per name.
  void ListExportFiles(const std::string& mask, std::vector<std::string>& commonFiles,
                       std::vector<std::string>& keyboardFiles);
  // The same for the Unsent folder (pattern: dir + "Unsent\*" + file mask).
  void ListUnsentFiles(const std::string& mask, std::vector<std::string>& unsentFiles,
                       std::vector<std::string>& keyboardFiles);
  // Oldest first by full-resolution modification time, equal times by the
  // original file name (a parked copy's name without its GUID); a file that
  // has vanished goes last.
  void SortByFileTime(std::vector<std::string>& files);
  // The scale number in a parked file's name: the (up to) three characters
  // before the first dot, low 8 bits; 0 when they are not a number.
  static uint8_t ScaleNumberFromFileName(const std::string& path);

  // ---- Import (cycle thread only) ----
  // Reads a goods file into `lists` by the current ImportType, in chunks
  // (the lines as ParseImportBytes of importparse.h files them).  True when
  // the read completed and an A, D or T line was filed.  When the file
  // cannot be opened or is larger than MaxFileSizeMB the lists are left as
  // they were.
  bool ParseImportFile(const std::string& path, TLineLists& lists);
  bool OpenImportFile(const std::string& path);
  void CloseImportFile();
  bool ReadFixedFormat(TLineLists& lists);
  bool ReadDelimitedFormat(TLineLists& lists);
  bool ImportOpen() const { return importOpen_; }
  // Why the last ParseImportFile answered false, and the reason as text.
  TImportRefusal LastRefusal() const { return refusal_; }
  const std::string& LastRefusalReason() const { return refusalReason_; }
  // The list separator goods files are split at.
  char ListSeparatorInUse() const { return ListSeparator(); }

  // ---- Log and Unsent store (cycle thread only) ----
  // Appends "date,time,address,code,file" + CR LF to LogoDir\sclogo.csv.
  // A failure gives false and loses the whole line, never part of it.
  bool AppendLog(const std::string& address, uint16_t code, const std::string& fileName);
  // Parks a copy of `path` in its directory's Unsent folder under
  // GUID + base + "%.3u" scale number + extension.  False (and an error in
  // the service log) when a copy was due and could not be written: the
  // caller must then keep the original.
  bool CopyToUnsent(const std::string& path, const std::string& address);
  // Moves a goods or keyboard file (or a parked copy) that cannot be
  // delivered into the Rejected folder beside Unsent (made on demand), never
  // over an existing name; the service log gets `reason`.  False when it
  // stays where it is.
  bool MoveToRejected(const std::string& path, const std::string& reason);
  // Told the name and the reason of every file moved into Rejected.
  void SetRejectedHook(std::function<void(const std::string&, const std::string&)> hook) {
    rejectedHook_ = std::move(hook);
  }
  // Removes the temporary files of copies cut short by a kill from the
  // Unsent folder of `mask`; only while no cycle runs.
  void RemoveStaleTemporaryCopies(const std::string& mask);
  void DeleteIfExists(const std::string& path);
  // Removes a file that has been delivered.  One that cannot be removed is
  // remembered (SetUndeletableRecord) and no longer listed while unchanged.
  void RemoveDelivered(const std::string& path);
  // Where delivered but undeletable files are remembered (a host path);
  // without it they are only logged.
  void SetUndeletableRecord(const std::string& hostPath);

  // The file name CopyToUnsent gives a copy of `fileName` for `address`
  // (without the GUID prefix), exposed for the cycle and tests.
  static std::string ParkedNameSuffix(const std::string& fileName, const std::string& address);
  // Scale number of an address: its text after the third dot, low 8 bits.
  static uint8_t ScaleNumberFromAddress(const std::string& address);

 private:
  bool ReadImportFile(const std::string& path, std::string& data);
  void Refuse(TImportRefusal refusal, std::string reason);
  bool WithinLimit(const std::string& host, uint64_t limit);
  // Sets the refusal a failed read means; always false.
  bool RefuseRead(const platform::Status& status, const std::string& host, uint64_t limit);
  // The name's verdict for the cycle's listing (fileproc_admit.cpp).
  bool Admit(const platform::FoundFile& f, const std::string& listedDir, bool exportDir);
  // False for a link, a FIFO, a device or a name that does not map onto
  // the host; each such name is warned about once (from either thread).
  bool Ordinary(const platform::FoundFile& f, const std::string& listedDir);
  bool Quiet(const std::string& path);
  // Whether `info` is what MarkComplete saw of `hostPath`; a changed file
  // is forgotten and waits its quiet period again.
  bool KnownComplete(const std::string& hostPath, const platform::FileInfo& info);
  bool Undeletable(const std::string& listedDir, const std::string& name);
  void ForgetVanished();
  void WarnOnce(const std::string& path, const std::string& why);
  // True the first time `key` is given (until the names seen are forgotten).
  bool FirstWarning(const std::string& key);
  bool ReadLines(TLineLists& lists, bool delimited);
  char ListSeparator() const;
  bool AnyFile(const std::string& storedPattern, platform::Status& failure);
  void ReportPendingCheck(const platform::Status& failure);
  std::optional<platform::FileTime> LastWriteTime(const std::string& path);
  void CollectFiles(const std::string& storedPattern, const std::string& listedDir,
                    std::vector<std::string>& goodsFiles, std::vector<std::string>& keyboardFiles,
                    bool exportDir = false, std::vector<std::string>* waiting = nullptr);
  void HoldBehindWaiting(const std::vector<std::string>& waiting, std::vector<std::string>& files);

  const TSettingsHolder& settings_;
  platform::Regional host_;
  const platform::Clock& clock_;
  platform::Env& env_;
  std::mutex pendingCheckMutex_;
  std::string pendingCheckError_;  // the reason HasPendingFiles logged last

  // What the cycle's listings saw of each export file: its size and time
  // stamp, and when this object first saw them as they are.
  struct Sighting {
    uint64_t size = 0;
    platform::FileTime lastWrite;
    std::chrono::steady_clock::time_point since;
    uint64_t listing = 0;  // the last listing that saw the file
  };
  uint64_t listing_ = 0;
  std::chrono::milliseconds quietPeriod_ = kQuietPeriod;
  std::map<std::string, Sighting> sightings_;
  std::mutex completeMutex_;  // the watcher marks, the cycle asks
  std::map<std::string, std::pair<uint64_t, platform::FileTime>> complete_;  // by host path
  std::unique_ptr<TUndeletableFiles> undeletable_;
  std::mutex warnedMutex_;
  std::set<std::string> warnedNames_;  // one warning per odd name

  TImportRefusal refusal_ = TImportRefusal::kNone;
  std::string refusalReason_;
  bool importOpen_ = false;
  std::function<void(const std::string&, const std::string&)> rejectedHook_;
  std::string importData_;  // the whole open import file
  size_t importPos_ = 0;
};

}  // namespace tv
