#include "json/write.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace qel::json {

namespace {

bool valid_utf8(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return utf8_lossy(s) == s;
  }
  return true;
}

}  // namespace

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

std::string utf8_lossy(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  const size_t n = bytes.size();
  auto at = [&](size_t j) { return static_cast<unsigned char>(bytes[j]); };
  auto cont = [&](size_t j) { return j < n && (at(j) & 0xC0) == 0x80; };
  while (i < n) {
    unsigned char c = at(i);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // Length of the well-formed prefix starting at i (0 when c cannot start one);
    // a truncated sequence is replaced as one unit, like the maximal-subpart rule.
    size_t len = 0, valid = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
    }
    if (len == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    valid = 1;
    for (size_t j = 1; j < len; ++j) {
      if (!cont(i + j)) break;
      unsigned char b = at(i + j);
      if (j == 1) {
        if (c == 0xE0 && b < 0xA0) break;
        if (c == 0xED && b > 0x9F) break;
        if (c == 0xF0 && b < 0x90) break;
        if (c == 0xF4 && b > 0x8F) break;
      }
      ++valid;
    }
    if (valid == len) {
      out.append(bytes.substr(i, len));
    } else {
      out += kReplacement;
    }
    i += valid;
  }
  return out;
}

}  // namespace qel::json
