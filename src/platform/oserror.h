// Text of the last failed operating-system call, for the few messages an
// operator sees on stderr.
#pragma once

#include <string>

namespace tv::platform {

// The description of the calling thread's current errno; read it right
// after the call that failed.
std::string LastOsErrorText();

}  // namespace tv::platform
