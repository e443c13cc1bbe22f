#include "ignore_sigpipe.hpp"

#include <csignal>
#include <mutex>

namespace qeltest {

void ignore_sigpipe() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

}  // namespace qeltest
