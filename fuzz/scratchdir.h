// A fuzz target's private directory in memory, for the store a server
// target writes; removed when the process ends.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzzcheck.h"

namespace tv::fuzz {

inline const std::string& ScratchDirectory() {
  // Never destroyed: the removal at exit still needs the name.
  static const std::string* dir = [] {
    char tmpl[] = "/dev/shm/tovalink-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(tmpl) != nullptr);
    auto* name = new std::string(tmpl);
    std::atexit([] { std::filesystem::remove_all(ScratchDirectory()); });
    return name;
  }();
  return *dir;
}

}  // namespace tv::fuzz
