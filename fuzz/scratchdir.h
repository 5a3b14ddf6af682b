// A fuzz target's private directory in memory and the store a server
// target writes there; removed when the process ends.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzzcheck.h"
#include "platform/registry.h"

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

inline std::unique_ptr<tv::platform::GuardedRegistry> ScratchStore() {
  return std::make_unique<tv::platform::GuardedRegistry>(ScratchDirectory() + "/registry.db");
}

}  // namespace tv::fuzz
