// The outcome of a host operation: ok, or what failed, why and where.  An
// error keeps the operating system's errno and a message that names the
// operation and the path, so a caller can log it as it stands
// ("append /var/lib/tovalink/drive_c/SCALEUPLOAD/sclogo.csv: No space left
// on device") or branch on its class.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tv::platform {

class Status {
 public:
  enum class Code { kOk, kNotFound, kAlreadyExists, kNoSpace, kPermissionDenied, kInvalidArgument, kIOError };

  Status() = default;  // ok
  static Status OK() { return Status(); }
  // A failed system call on `path`; the class follows from `osError`.
  // Without an operation and a path the message is the reason alone.
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

// A failure whose reason is the whole message, without a call or a path
// ("\"10.0.0\" is neither an IPv4 address nor off").
inline Status Refusal(std::string_view why) { return Status::InvalidArgument({}, {}, why); }

// A value, or the Status that says why there is none.
template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}         // NOLINT: implicit on purpose
  Result(Status status) : status_(std::move(status)) {  // NOLINT: implicit on purpose
    assert(!status_.ok());
  }

  bool ok() const { return status_.ok(); }
  const Status& status() const { return status_; }
  T& value() { return *value_; }
  const T& value() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  Status status_;
  std::optional<T> value_;
};

}  // namespace tv::platform
