// The outcome of a host operation: ok, or what failed, why and where.  An
// error keeps the operating system's errno and a message that names the
// operation and the path, so a caller can log it as it stands
// ("append /var/lib/tovalink/drive_c/SCALEUPLOAD/sclogo.csv: No space left
// on device") or branch on its class.
#pragma once

#include <string>
#include <string_view>

namespace tv::platform {

class Status {
 public:
  enum class Code { kOk, kNotFound, kAlreadyExists, kNoSpace, kPermissionDenied, kInvalidArgument, kIOError };

  Status() = default;  // ok
  static Status OK() { return Status(); }
  // A failed system call on `path`; the class follows from `osError`.
  static Status IOError(std::string_view operation, std::string_view path, int osError);
  // A request the host cannot carry out for a reason of its own (no errno).
  static Status InvalidArgument(std::string_view operation, std::string_view path, std::string_view why);

  bool ok() const { return code_ == Code::kOk; }
  bool IsNotFound() const { return code_ == Code::kNotFound; }
  bool IsAlreadyExists() const { return code_ == Code::kAlreadyExists; }
  bool IsNoSpace() const { return code_ == Code::kNoSpace; }
  bool IsPermissionDenied() const { return code_ == Code::kPermissionDenied; }

  Code code() const { return code_; }
  int osError() const { return osError_; }  // 0 when no system call failed
  // "OK", or "<operation> <path>: <reason>".
  std::string ToString() const;

 private:
  Status(Code code, int osError, std::string message)
      : code_(code), osError_(osError), message_(std::move(message)) {}

  Code code_ = Code::kOk;
  int osError_ = 0;
  std::string message_;
};

}  // namespace tv::platform
