#include "core/log.hpp"

#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <mutex>
#include <string>

#include <fmt/format.h>

namespace qel::log {
namespace {

std::atomic<bool> in_service{false};
std::mutex write_mutex;

std::string timestamp() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm tm{};
  gmtime_r(&tv.tv_sec, &tm);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:06}Z", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<long>(tv.tv_usec));
}

std::string_view level_name(Level level) {
  switch (level) {
    case Level::Info: return " INFO";
    case Level::Warn: return " WARN";
    case Level::Error: return "ERROR";
  }
  return "";
}

}  // namespace

void enter_service_span() { in_service.store(true); }

void write(Level level, std::string_view target, std::string_view message) {
  std::string line = timestamp();
  line += ' ';
  line += level_name(level);
  line += ' ';
  if (in_service.load()) line += "serve_inner: ";
  line += target;
  line += ": ";
  line += message;
  line += '\n';
  std::lock_guard lock(write_mutex);
  // One write per line so concurrent events never interleave.
  std::string_view rest = line;
  while (!rest.empty()) {
    ssize_t n = ::write(STDERR_FILENO, rest.data(), rest.size());
    if (n <= 0) return;
    rest.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace qel::log
