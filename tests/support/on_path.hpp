#pragma once

#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>

namespace qeltest {

// Whether `program` is an executable in one of the directories of PATH;
// tests that need an outside tool skip when it is missing.
inline bool on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace qeltest
