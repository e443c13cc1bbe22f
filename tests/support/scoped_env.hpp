#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace qeltest {

// Sets (or, with nullopt, unsets) one environment variable of the test
// process for the lifetime of the object, then restores what was there.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) saved_ = old;
    apply(value);
  }
  ~ScopedEnv() { apply(saved_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void apply(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  std::string name_;
  std::optional<std::string> saved_;
};

}  // namespace qeltest
