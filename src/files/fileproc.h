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

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "files/linelists.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/regional.h"

namespace tv {

class CFiles {
 public:
  // `settings`, `clock` and `env` must outlive the object.  The current
  // settings are read at every call, so a reload takes effect at once.
  CFiles(const TSettingsHolder& settings, platform::Regional host,
         const platform::Clock& clock = platform::SystemClock(),
         platform::Env& env = *platform::Env::Default());
  CFiles(const CFiles&) = delete;
  CFiles& operator=(const CFiles&) = delete;

  // ---- Discovery (event timer and cycle) ----
  // True when the mask's directory or its Unsent folder holds a file that
  // matches; every failure gives false.
  bool HasPendingFiles(const std::string& mask);
  // Clears `commonFiles`, fills it oldest first and appends ".xml" files to
  // `keyboardFiles` (which is not cleared).
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
  // Reads a goods file into `lists` by the current ImportType
  // (ParseImportBytes of importparse.h).  True when the read completed and an
  // A, D or T line was filed.  When the file cannot be opened the lists are
  // left as they were.
  bool ParseImportFile(const std::string& path, TLineLists& lists);
  bool OpenImportFile(const std::string& path);
  void CloseImportFile();
  bool ReadFixedFormat(TLineLists& lists);
  bool ReadDelimitedFormat(TLineLists& lists);
  bool ImportOpen() const { return importOpen_; }

  // ---- Log and Unsent store (cycle thread only) ----
  // Appends "date,time,address,code,file" + CR LF to LogoDir\sclogo.csv.
  // A failure gives false and loses the whole line, never part of it.
  bool AppendLog(const std::string& address, uint16_t code, const std::string& fileName);
  // Parks a copy of `path` in its directory's Unsent folder under
  // GUID + base + "%.3u" scale number + extension.
  void CopyToUnsent(const std::string& path, const std::string& address);
  void DeleteIfExists(const std::string& path);

  // The file name CopyToUnsent gives a copy of `fileName` for `address`
  // (without the GUID prefix), exposed for the cycle and tests.
  static std::string ParkedNameSuffix(const std::string& fileName, const std::string& address);
  // Scale number of an address: its text after the third dot, low 8 bits.
  static uint8_t ScaleNumberFromAddress(const std::string& address);

 private:
  bool ReadImportFile(const std::string& path, std::string& data);
  bool ReadLines(TLineLists& lists, bool delimited);
  char ListSeparator() const;
  bool AnyFile(const std::string& storedPattern, platform::Status& failure);
  void ReportPendingCheck(const platform::Status& failure);
  std::optional<platform::FileTime> LastWriteTime(const std::string& path);
  void CollectFiles(const std::string& storedPattern, const std::string& listedDir,
                    std::vector<std::string>& goodsFiles, std::vector<std::string>& keyboardFiles);

  const TSettingsHolder& settings_;
  platform::Regional host_;
  const platform::Clock& clock_;
  platform::Env& env_;
  std::mutex pendingCheckMutex_;
  std::string pendingCheckError_;  // the reason HasPendingFiles logged last

  bool importOpen_ = false;
  std::string importData_;  // the whole open import file
  size_t importPos_ = 0;
};

}  // namespace tv
