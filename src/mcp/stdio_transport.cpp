#include "mcp/stdio_transport.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qel::mcp {

std::optional<LineReader::Line> LineReader::next() {
  for (;;) {
    auto newline = buffer_.find('\n', scan_from_);
    if (newline != std::string::npos) {
      Line line{buffer_.substr(0, newline), discarding_};
      buffer_.erase(0, newline + 1);
      scan_from_ = 0;
      discarding_ = false;
      if (line.oversized) line.text.clear();
      if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
      return line;
    }
    scan_from_ = buffer_.size();
    if (buffer_.size() > max_line_) {
      // Keep memory bounded: drop what we have, remember to report the line.
      discarding_ = true;
      buffer_.clear();
      scan_from_ = 0;
    }
    if (eof_) {
      if (buffer_.empty() && !discarding_) return std::nullopt;
      Line line{std::move(buffer_), discarding_};
      buffer_.clear();
      scan_from_ = 0;
      discarding_ = false;
      if (line.oversized) line.text.clear();
      return line;
    }
    char chunk[65536];
    ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      eof_ = true;
      continue;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

std::optional<std::string> LineWriter::write_line(std::string_view message) {
  std::string line;
  line.reserve(message.size() + 1);
  line.append(message);
  line += '\n';
  std::lock_guard lock(mutex_);
  std::string_view rest = line;
  while (!rest.empty()) {
    ssize_t n = ::write(fd_, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::string(std::strerror(n < 0 ? errno : EIO));
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  return std::nullopt;
}

}  // namespace qel::mcp
