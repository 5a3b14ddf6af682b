// `tovalink reg`: a reg.exe-like editor for the configuration store, for
// admins used to Windows.  query / add / delete, switches with / or -.
#pragma once

#include <string>

namespace tv {

// argv holds the words after "reg".  Output and errors go to stdout/stderr;
// returns the process exit code (0 success, 1 failure).
int RunRegCommand(int argc, char** argv);

}  // namespace tv
