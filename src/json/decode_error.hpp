#pragma once
// What went wrong while reading a JSON value into a typed record, and where:
// "invalid type: integer `7`, expected a string at [0].number".
#include <string>
#include <string_view>

#include "json/parse.hpp"

namespace qel::json {

struct DecodeError {
  std::string message;
  std::string path;  // built from the inside out while the failure unwinds

  void in_field(std::string_view name);
  void in_index(std::size_t index);
  std::string text() const;
};

// serde-style description of a found value: boolean `true`, integer `7`,
// floating point `1.5`, string "x", sequence, map, null.
std::string describe(const Value& v);

// Sets the "invalid type: …, expected …" message; always returns false so
// decoders can `return mismatch(...)`.
bool mismatch(DecodeError& err, const Value& found, std::string_view expected);
bool fail(DecodeError& err, std::string message);

}  // namespace qel::json
