#include "json/write.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace qel::json {

void write_string(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  // Text that is not UTF-8 (a decoder message quoting raw bytes, say) must
  // not corrupt the output: malformed sequences become U+FFFD.
  std::string repaired;
  if (!valid_utf8(s)) {
    repaired = utf8_lossy(s);
    s = repaired;
  }
  out += '"';
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (u < 0x20) {
          out += "\\u00";
          out += kHex[u >> 4];
          out += kHex[u & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void write_int(std::string& out, std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

std::string format_double(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
  std::string out;
  if (sci.front() == '-') {
    out += '-';
    sci.remove_prefix(1);
  }
  auto e_pos = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e_pos)) {
    if (c != '.') digits += c;
  }
  int exp10 = std::atoi(std::string(sci.substr(e_pos + 1)).c_str());
  // digits × 10^k, with 10^(kk-1) <= value < 10^kk
  int n = static_cast<int>(digits.size());
  int k = exp10 - (n - 1);
  int kk = n + k;
  if (0 <= k && kk <= 16) {
    out += digits;
    out.append(static_cast<size_t>(k), '0');
    out += ".0";
  } else if (0 < kk && kk <= 16) {
    out += digits.substr(0, static_cast<size_t>(kk));
    out += '.';
    out += digits.substr(static_cast<size_t>(kk));
  } else if (-5 < kk && kk <= 0) {
    out += "0.";
    out.append(static_cast<size_t>(-kk), '0');
    out += digits;
  } else if (n == 1) {
    out += digits;
    out += 'e';
    out += std::to_string(kk - 1);
  } else {
    out += digits[0];
    out += '.';
    out += digits.substr(1);
    out += 'e';
    out += std::to_string(kk - 1);
  }
  return out;
}

void write_double(std::string& out, double v) { out += format_double(v); }

void write_value(std::string& out, const Value& v) {
  switch (v.type()) {
    case Value::value_t::null: out += "null"; break;
    case Value::value_t::boolean: out += v.get<bool>() ? "true" : "false"; break;
    case Value::value_t::number_integer: write_int(out, v.get<std::int64_t>()); break;
    case Value::value_t::number_unsigned: out += std::to_string(v.get<std::uint64_t>()); break;
    case Value::value_t::number_float: write_double(out, v.get<double>()); break;
    case Value::value_t::string: write_string(out, v.get_ref<const std::string&>()); break;
    case Value::value_t::array: {
      out += '[';
      bool first = true;
      for (const auto& element : v) {
        if (!first) out += ',';
        first = false;
        write_value(out, element);
      }
      out += ']';
      break;
    }
    case Value::value_t::object: {
      out += '{';
      bool first = true;
      for (auto it = v.begin(); it != v.end(); ++it) {
        if (is_duplicate_marker(it.key())) continue;
        if (!first) out += ',';
        first = false;
        write_string(out, it.key());
        out += ':';
        write_value(out, it.value());
      }
      out += '}';
      break;
    }
    default: out += "null"; break;
  }
}

std::string quote_string(std::string_view s) {
  std::string out;
  write_string(out, s);
  return out;
}

std::string to_text(const Value& v) {
  std::string out;
  write_value(out, v);
  return out;
}

namespace {

// The sequence starting at bytes[i]: its full length, and how many of its
// bytes are well formed (equal when it is complete). A byte that cannot
// start a sequence has length 1 and 0 valid bytes; a truncated sequence is
// one unit, as in the maximal-subpart rule.
struct Sequence {
  std::size_t length, valid;
};

Sequence sequence_at(std::string_view bytes, std::size_t i) {
  auto c = static_cast<unsigned char>(bytes[i]);
  if (c < 0x80) return {1, 1};
  std::size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (length == 0) return {1, 0};
  std::size_t valid = 1;
  for (std::size_t j = 1; j < length && i + j < bytes.size(); ++j) {
    auto b = static_cast<unsigned char>(bytes[i + j]);
    if ((b & 0xC0) != 0x80) break;
    if (j == 1 && ((c == 0xE0 && b < 0xA0) || (c == 0xED && b > 0x9F) || (c == 0xF0 && b < 0x90) ||
                   (c == 0xF4 && b > 0x8F))) {
      break;
    }
    ++valid;
  }
  return {length, valid};
}

}  // namespace

bool valid_utf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    auto [length, valid] = sequence_at(bytes, i);
    if (valid != length) return false;
    i += length;
  }
  return true;
}

std::string utf8_lossy(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    auto [length, valid] = sequence_at(bytes, i);
    if (valid == length) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out += kReplacement;
      i += valid == 0 ? 1 : valid;
    }
  }
  return out;
}

}  // namespace qel::json
