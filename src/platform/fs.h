// The file system as the service sees it: Windows-style paths from the store
// mapped onto the host, wildcard matching and path names.  The file
// operations themselves are the Env's (platform/env.h): nothing outside
// src/platform opens, lists, copies or deletes a file.
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

// A file's last-write time packed as a DOS date-and-time value in local time
// (two-second resolution), as a signed 32-bit number.
int32_t DosTimeFromUnix(std::time_t t);

// Boolean forms of four Env (platform/env.h) calls on the host's file
// system, for the command-line tools that still use them; everything else
// calls the Env.
bool FindFiles(const std::string& hostPattern, std::vector<FoundFile>& out);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
bool RemoveFile(const std::string& path);

// Name part of a path (after the last '/' or '\\').
std::string ExtractFileName(const std::string& path);
// Directory part of a path, up to and including the last '/' or '\\'.
std::string ExtractFilePath(const std::string& path);

}  // namespace tv::platform
