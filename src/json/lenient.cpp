#include "json/lenient.hpp"

#include <charconv>
#include <limits>

namespace qel::json {
namespace {

constexpr std::string_view kIntExpected = "integer, string containing integer, empty string, or null";
constexpr std::string_view kBoolExpected = R"(bool, string "0"/"1"/"true"/"false"/"", integer 0/1, or null)";

// Unicode white space beyond ASCII: NEL, NBSP, U+1680, U+2000–U+200A,
// U+2028/9, U+202F, U+205F and U+3000, as UTF-8.
constexpr std::string_view kWideSpaces[] = {
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83",
    "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A",
    "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"};

bool ascii_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Length of the white-space character at the front (or back) of `s`, 0 if none.
std::size_t space_prefix(std::string_view s) {
  if (s.empty()) return 0;
  if (ascii_space(s.front())) return 1;
  for (auto w : kWideSpaces) {
    if (s.starts_with(w)) return w.size();
  }
  return 0;
}

std::size_t space_suffix(std::string_view s) {
  if (s.empty()) return 0;
  if (ascii_space(s.back())) return 1;
  for (auto w : kWideSpaces) {
    if (s.ends_with(w)) return w.size();
  }
  return 0;
}

}  // namespace

std::string_view trim_unicode(std::string_view s) {
  while (auto n = space_prefix(s)) s.remove_prefix(n);
  while (auto n = space_suffix(s)) s.remove_suffix(n);
  return s;
}

bool Codec<LenientInt>::decode(const Value& v, LenientInt& out, DecodeError& err) {
  out.value.reset();
  switch (v.type()) {
    case Value::value_t::null: return true;
    case Value::value_t::number_integer: out.value = v.get<std::int64_t>(); return true;
    case Value::value_t::number_unsigned: {
      auto u = v.get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return fail(err, "u64 " + std::to_string(u) + " overflows i64");
      }
      out.value = static_cast<std::int64_t>(u);
      return true;
    }
    case Value::value_t::string: {
      std::string_view text = trim_unicode(v.get_ref<const std::string&>());
      if (text.empty()) return true;
      auto reason = [&](std::string_view why) {
        return fail(err, "parse " + quote_string(text) + " as i64: " + std::string(why));
      };
      std::string_view digits = text;
      bool negative = false;
      if (digits.front() == '+' || digits.front() == '-') {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
      }
      if (digits.empty()) return reason("invalid digit found in string");
      for (char c : digits) {
        if (c < '0' || c > '9') return reason("invalid digit found in string");
      }
      std::int64_t value = 0;
      for (char c : digits) {
        int d = c - '0';
        if (!negative) {
          if (value > (std::numeric_limits<std::int64_t>::max() - d) / 10) {
            return reason("number too large to fit in target type");
          }
          value = value * 10 + d;
        } else {
          if (value < (std::numeric_limits<std::int64_t>::min() + d) / 10) {
            return reason("number too small to fit in target type");
          }
          value = value * 10 - d;
        }
      }
      out.value = value;
      return true;
    }
    default: return mismatch(err, v, kIntExpected);
  }
}

bool Codec<LenientBool>::decode(const Value& v, LenientBool& out, DecodeError& err) {
  out.value.reset();
  switch (v.type()) {
    case Value::value_t::null: return true;
    case Value::value_t::boolean: out.value = v.get<bool>(); return true;
    case Value::value_t::number_integer: out.value = v.get<std::int64_t>() != 0; return true;
    case Value::value_t::number_unsigned: out.value = v.get<std::uint64_t>() != 0; return true;
    case Value::value_t::string: {
      std::string_view text = trim_unicode(v.get_ref<const std::string&>());
      if (text == "1" || text == "true" || text == "TRUE" || text == "True") {
        out.value = true;
      } else if (text.empty() || text == "0" || text == "false" || text == "FALSE" || text == "False") {
        out.value = false;
      } else {
        return fail(err, "expected bool-like string, got " + quote_string(text));
      }
      return true;
    }
    default: return mismatch(err, v, kBoolExpected);
  }
}

bool Codec<NullTime>::decode(const Value& v, NullTime& out, DecodeError& err) {
  out = NullTime{};
  if (v.is_string()) {
    const auto& text = v.get_ref<const std::string&>();
    if (text == "0001-01-01T00:00:00Z") {
      out.valid = false;
    } else {
      out.time = text;
      out.valid = true;
    }
    return true;
  }
  if (v.is_object()) {
    DecodeError inner;
    if (Codec<Opt<std::string>>::decode(v.contains("time") ? v["time"] : Value(), out.time, inner) &&
        Codec<Opt<bool>>::decode(v.contains("valid") ? v["valid"] : Value(), out.valid, inner) &&
        !v.contains("\xfftime") && !v.contains("\xffvalid")) {
      return true;
    }
  }
  return fail(err, "data did not match any variant of untagged enum Repr");
}

void Codec<NullTime>::encode(std::string& out, const NullTime& t) {
  out += '{';
  if (t.time) {
    out += "\"time\":";
    write_string(out, *t.time);
  }
  if (t.valid) {
    if (t.time) out += ',';
    out += "\"valid\":";
    out += *t.valid ? "true" : "false";
  }
  out += '}';
}

bool Codec<LenientStringList>::decode(const Value& v, LenientStringList& out, DecodeError& err) {
  if (!v.is_array()) return mismatch(err, v, "a sequence");
  out.items.clear();
  for (const auto& element : v) {
    if (element.is_null()) {
      out.items.emplace_back();
    } else if (element.is_string()) {
      out.items.push_back(element.get<std::string>());
    } else {
      out.items.push_back(to_text(element));
    }
  }
  return true;
}

}  // namespace qel::json
