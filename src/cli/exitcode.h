// The exit codes of every command, in one table, so that scripts can rely
// on them: 0 done, 1 failed, 2 a usage error; a few commands say more.
#pragma once

namespace tv::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// `tovalink status`: the service answered and a scale failed, or the
// service cannot deliver.
inline constexpr int kExitSomeScaleFailed = 3;
// `tovalink status`: delivered, but something needs a look (rejected files,
// skipped lines).
inline constexpr int kExitNeedsALook = 4;
// `tovalink status|lock|unlock`: nothing listens, or nothing answered.  A
// failure like any other; for `status`, 3 means a scale failed.
inline constexpr int kExitNoAnswer = 1;
// `tovalink config apply`: the file is invalid; nothing was written.
inline constexpr int kExitInvalidFile = 2;
// `tovalink explain`: a line would be skipped or a keyboard file refused.
// Older than the table, and kept: scripts already read it.
inline constexpr int kExitSomeLineSkipped = 2;

}  // namespace tv::cli
