#pragma once
// Newline-delimited messages over file descriptors: a buffered line reader
// for standard input and a writer that puts each message out as one whole
// line, one writer at a time.
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace qel::mcp {

class LineReader {
 public:
  // Lines longer than max_line are dropped whole and reported as `oversized`.
  LineReader(int fd, std::size_t max_line) : fd_(fd), max_line_(max_line) {}

  struct Line {
    std::string text;
    bool oversized = false;
  };
  // The next line without its line feed (and a trailing carriage return), or
  // nothing at end of input.
  std::optional<Line> next();

 private:
  int fd_;
  std::size_t max_line_;
  std::string buffer_;
  std::size_t scan_from_ = 0;
  bool eof_ = false;
  bool discarding_ = false;
};

class LineWriter {
 public:
  explicit LineWriter(int fd) : fd_(fd) {}
  // Writes `message` and a line feed; on failure returns the system's error text.
  std::optional<std::string> write_line(std::string_view message);

 private:
  int fd_;
  std::mutex mutex_;
};

}  // namespace qel::mcp
