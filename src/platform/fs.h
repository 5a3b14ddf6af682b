// The file system as the service sees it: Windows-style paths from the store
// mapped onto the host, wildcard matching, and the file operations of the
// host Env (platform/env.h) with a plain Boolean answer for callers that
// need no reason.  Nothing outside src/platform opens, lists, copies or
// deletes a file.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace tv::platform {

// The state directory of the Debian package's service.
inline constexpr char kPackagedStateHome[] = "/var/lib/tovalink";

// The state directory: $TOVALINK_HOME, else /var/lib/tovalink for root and
// whenever it exists, else $HOME/.local/state/tovalink.
std::string StateHome();
// True when $TOVALINK_HOME names the state directory.
bool StateHomeChosen();

// Maps a path as stored in the configuration (for instance
// "C:\SCALEUPLOAD\ExportDir") onto the host: a drive letter X: becomes
// <home>/drive_x, backslashes become slashes; an absolute POSIX path stays as
// it is.  Empty stays empty.
std::string MapPath(const std::string& storedPath, const std::string& home);
std::string MapPath(const std::string& storedPath);

// Matches `name` against a pattern with * and ? as the Windows file system
// does: without regard to case, and "*.*" matches every name.
bool WildcardMatch(const std::string& pattern, const std::string& name);

struct FoundFile {
  std::string name;
  bool isDirectory = false;
  std::time_t lastWrite = 0;  // seconds since the epoch
  bool isRegular = false;     // a regular file itself, not a link to one
};

// Lists the entries of the directory part of `hostPattern` whose names match
// its last component, "." and ".." excluded, in case-insensitive name order
// (the order NTFS returns them).  A missing or unreadable directory gives an
// empty list and false.
bool FindFiles(const std::string& hostPattern, std::vector<FoundFile>& out);

// A file's last-write time packed as a DOS date-and-time value in local time
// (two-second resolution), as a signed 32-bit number; false when missing.
bool FileDosTime(const std::string& path, int32_t& dosTime);
int32_t DosTimeFromUnix(std::time_t t);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
bool RemoveFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
// Creates the directory with all missing parents; true when it exists after.
bool ForceDirectories(const std::string& path);
bool ReadWholeFile(const std::string& path, std::string& data);
// Writes the whole file (created or truncated).
bool WriteWholeFile(const std::string& path, const std::string& data);
// Appends `data` with a single write on a file opened for appending (created
// when missing), so concurrent readers never see half of it.
bool AppendToFile(const std::string& path, const std::string& data);
// Copies `from` to `to`, keeping the source's last-write time, never
// overwriting an existing `to`, and never leaving a partial `to`: the copy is
// written under a hidden temporary name in the target directory first.
bool CopyFileNoOverwrite(const std::string& from, const std::string& to);
bool SetLastWriteTime(const std::string& path, std::time_t t);

// Name part of a path (after the last '/' or '\\').
std::string ExtractFileName(const std::string& path);
// Directory part of a path, up to and including the last '/' or '\\'.
std::string ExtractFilePath(const std::string& path);

}  // namespace tv::platform
