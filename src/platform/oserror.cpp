#include "platform/oserror.h"

#include <cerrno>
#include <system_error>

namespace tv::platform {

std::string LastOsErrorText() { return std::generic_category().message(errno); }

}  // namespace tv::platform
