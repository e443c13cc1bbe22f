#include "core/config_nesting.hpp"

#include <vector>

namespace qel::core {
namespace {

enum class Mode {
  StatementStart,  // beginning of a top-level line: a header, a key or nothing
  Header,          // inside `[...]` or `[[...]]`
  Key,             // a (possibly dotted) key before its `=`
  Value,           // after `=`, inside an array, or after a closed value
  StatementEnd,    // after a header, until the line ends
};

struct Frame {
  bool inline_table;   // `{` rather than `[`
  std::size_t levels;  // depth this frame adds to the path
};

class NestingScanner {
 public:
  NestingScanner(std::string_view text, std::size_t limit) : text_(text), limit_(limit) {}

  bool run() {
    while (pos_ < text_.size()) {
      if (!step()) return false;
    }
    return true;
  }

 private:
  std::size_t depth() const { return header_levels_ + open_levels_ + key_levels_; }
  bool within() const { return depth() <= limit_; }

  bool step() {
    const char c = text_[pos_];
    if (c == '"' || c == '\'') {
      if (mode_ == Mode::StatementStart) start_key();
      skip_string();
      return true;
    }
    if (c == '#') {
      skip_comment();
      return true;
    }
    ++pos_;
    if (c == '\n') {
      if (frames_.empty()) {
        mode_ = Mode::StatementStart;
        key_levels_ = 0;
      }
      return true;
    }
    if (c == ' ' || c == '\t' || c == '\r') return true;
    switch (mode_) {
      case Mode::StatementStart:
        if (c == '[') {
          if (pos_ < text_.size() && text_[pos_] == '[') ++pos_;
          mode_ = Mode::Header;
          header_levels_ = 1;
          return within();
        }
        start_key();
        return within();
      case Mode::Header:
        if (c == '.') {
          ++header_levels_;
          return within();
        }
        if (c == ']') mode_ = Mode::StatementEnd;
        return true;
      case Mode::Key:
        if (c == '.') {
          ++key_levels_;
          return within();
        }
        if (c == '=') {
          owner_levels_ = key_levels_;
          key_levels_ = 0;
          mode_ = Mode::Value;
          return true;
        }
        if (c == '}') close();
        return true;
      case Mode::Value:
        if (c == '{' || c == '[') return open(c == '{');
        if (c == '}' || c == ']') {
          close();
        } else if (c == ',' && !frames_.empty()) {
          if (frames_.back().inline_table) {
            mode_ = Mode::Key;
            key_levels_ = 1;
          }
          owner_levels_ = 0;
        }
        return true;
      case Mode::StatementEnd:
        return true;
    }
    return true;
  }

  void start_key() {
    mode_ = Mode::Key;
    key_levels_ = 1;
  }

  bool open(bool inline_table) {
    // The levels of the key that owns this value move into the frame, plus
    // one for the container itself.
    const std::size_t levels = owner_levels_ + 1;
    frames_.push_back({inline_table, levels});
    open_levels_ += levels;
    owner_levels_ = 0;
    if (inline_table) {
      mode_ = Mode::Key;
      key_levels_ = 1;
    } else {
      mode_ = Mode::Value;
    }
    return within();
  }

  void close() {
    if (frames_.empty()) return;
    open_levels_ -= frames_.back().levels;
    frames_.pop_back();
    mode_ = Mode::Value;
    key_levels_ = 0;
    owner_levels_ = 0;
  }

  void skip_comment() {
    while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
  }

  std::size_t quote_run(char quote) const {
    std::size_t n = 0;
    while (pos_ + n < text_.size() && text_[pos_ + n] == quote) ++n;
    return n;
  }

  void skip_string() {
    const char quote = text_[pos_];
    const bool basic = quote == '"';
    const std::size_t opening = quote_run(quote);
    if (opening == 2) {  // the empty string
      pos_ += 2;
      return;
    }
    const bool multiline = opening >= 3;
    pos_ += multiline ? 3 : 1;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (basic && c == '\\') {
        pos_ += 2;
        continue;
      }
      if (c == quote) {
        if (!multiline) {
          ++pos_;
          return;
        }
        const std::size_t run = quote_run(quote);
        if (run >= 3) {
          // Up to two quotes right before the closing delimiter belong to
          // the string's content.
          pos_ += run < 5 ? run : 5;
          return;
        }
        pos_ += run;
        continue;
      }
      if (c == '\n' && !multiline) return;  // unterminated; the parser rejects it
      ++pos_;
    }
  }

  std::string_view text_;
  std::size_t limit_;
  std::size_t pos_ = 0;
  Mode mode_ = Mode::StatementStart;
  std::vector<Frame> frames_;
  std::size_t header_levels_ = 0;  // levels of the current table header
  std::size_t open_levels_ = 0;    // sum of the open frames' levels
  std::size_t key_levels_ = 0;     // parts of the key being read
  std::size_t owner_levels_ = 0;   // parts of the key whose value comes next
};

}  // namespace

bool toml_nesting_within(std::string_view text, std::size_t limit) {
  return NestingScanner(text, limit).run();
}

}  // namespace qel::core
