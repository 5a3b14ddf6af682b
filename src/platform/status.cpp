#include "platform/status.h"

#include <cerrno>
#include <system_error>

namespace tv::platform {
namespace {

Status::Code ClassOf(int osError) {
  switch (osError) {
    case ENOENT:
    case ENOTDIR:
      return Status::Code::kNotFound;
    case EEXIST:
      return Status::Code::kAlreadyExists;
    case ENOSPC:
    case EDQUOT:
      return Status::Code::kNoSpace;
    case EACCES:
    case EPERM:
    case EROFS:
      return Status::Code::kPermissionDenied;
    default:
      return Status::Code::kIOError;
  }
}

// "<operation> <path>: <reason>", or the reason alone without either.
std::string Message(std::string_view operation, std::string_view path, std::string_view reason) {
  std::string text(operation);
  if (!path.empty()) {
    text += ' ';
    text += path;
  }
  if (!text.empty()) text += ": ";
  text += reason;
  return text;
}

}  // namespace

Status Status::IOError(std::string_view operation, std::string_view path, int osError) {
  return Status(ClassOf(osError), osError,
                Message(operation, path, std::generic_category().message(osError)));
}

Status Status::InvalidArgument(std::string_view operation, std::string_view path, std::string_view why) {
  return Status(Code::kInvalidArgument, 0, Message(operation, path, why));
}

std::string Status::ToString() const { return ok() ? "OK" : message_; }

}  // namespace tv::platform
