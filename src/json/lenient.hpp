#pragma once
// Field kinds for the platform's loosely typed values. Each is a type with
// its own Codec, so a record only names the kind of a field:
//   LenientInt         count given as 12, "12", " 12 ", "" or null
//   LenientBool        flag given as true, 1, "1", "true", "" or null
//   NullTime           time given as a string, the zero time, or {time, valid}
//   LenientStringList  list whose elements are turned into their text
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json/record.hpp"

namespace qel::json {

// Removes leading and trailing Unicode white space.
std::string_view trim_unicode(std::string_view s);

struct LenientInt {
  std::optional<std::int64_t> value;
};

struct LenientBool {
  std::optional<bool> value;
};

struct NullTime {
  Opt<std::string> time;
  Opt<bool> valid;
};

struct LenientStringList {
  std::vector<std::string> items;
};

template <>
struct Codec<LenientInt> {
  static constexpr bool optional = true;
  static bool decode(const Value& v, LenientInt& out, DecodeError& err);
  static bool present(const LenientInt& n) { return n.value.has_value(); }
  static void encode(std::string& out, const LenientInt& n) { write_int(out, *n.value); }
};

template <>
struct Codec<LenientBool> {
  static constexpr bool optional = true;
  static bool decode(const Value& v, LenientBool& out, DecodeError& err);
  static bool present(const LenientBool& b) { return b.value.has_value(); }
  static void encode(std::string& out, const LenientBool& b) { out += *b.value ? "true" : "false"; }
};

// NullTime's own decoder accepts the string forms besides the record form; it
// is always held as Opt<NullTime>, so null never reaches it.
template <>
struct Codec<NullTime> {
  static bool decode(const Value& v, NullTime& out, DecodeError& err);
  static void encode(std::string& out, const NullTime& t);
};

template <>
struct Codec<LenientStringList> {
  static bool decode(const Value& v, LenientStringList& out, DecodeError& err);
  static void encode(std::string& out, const LenientStringList& list) {
    Codec<std::vector<std::string>>::encode(out, list.items);
  }
};

}  // namespace qel::json
