// Who runs this process, as an operator reading the service log wants to
// know it: the real user id and its name, and the user sudo was run by.
#pragma once

#include <string>

namespace tv::platform {

// "uid 0 (root), through sudo by alice"; read before the process changes
// its user, since it names whoever started it.
std::string CallerText();

}  // namespace tv::platform
