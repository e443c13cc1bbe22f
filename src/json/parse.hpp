#pragma once
// JSON text to a document tree. Two things differ from a plain parse:
//  - a key repeated within one object keeps its last value and leaves a
//    marker member ("\xff" + key), so record decoders can reject duplicates of
//    the fields they know while maps and free-form values simply skip it;
//  - nesting deeper than kMaxDepth is refused instead of recursing without end.
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/result.hpp"

namespace qel::json {

using Value = nlohmann::json;

inline constexpr std::size_t kMaxDepth = 128;

struct ParseError {
  std::string message;
};

Result<Value, ParseError> parse(std::string_view text);

// A marker member can never clash with a real key: the parser only accepts
// valid UTF-8, in which the byte 0xFF never occurs.
inline bool is_duplicate_marker(const std::string& key) { return !key.empty() && key[0] == '\xff'; }
inline std::string_view marked_key(const std::string& key) { return std::string_view(key).substr(1); }

// Copy of `value` without duplicate markers, at every level.
Value without_markers(const Value& value);

}  // namespace qel::json
