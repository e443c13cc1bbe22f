#include "api/url.hpp"

#include <cctype>

namespace qel::api {
namespace {

bool is_tab_or_newline(char c) { return c == '\t' || c == '\n' || c == '\r'; }

std::string without_tabs_and_newlines(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (!is_tab_or_newline(c)) out += c;
  }
  return out;
}

bool is_dot_segment(std::string_view segment) {
  std::string lower;
  for (char c : segment) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // A URL parser trims trailing blanks and controls off the whole address,
  // which could turn "..%20"-less tails such as ".. " into "..".
  while (!lower.empty() && static_cast<unsigned char>(lower.back()) <= 0x20) lower.pop_back();
  return lower == "." || lower == "%2e" || lower == ".." || lower == ".%2e" || lower == "%2e." || lower == "%2e%2e";
}

void percent_encode_byte(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 0xF];
}

bool in_path_encode_set(unsigned char c) {
  if (c < 0x20 || c >= 0x7F) return true;
  switch (c) {
    case ' ': case '"': case '<': case '>': case '`': case '#': case '?': case '{': case '}':
      return true;
    default:
      return false;
  }
}

}  // namespace

ApiResult<std::string> path_value(std::string_view value) {
  std::string cleaned = without_tabs_and_newlines(value);
  std::size_t start = 0;
  while (start <= cleaned.size()) {
    std::size_t end = cleaned.find_first_of("/\\", start);
    if (end == std::string::npos) end = cleaned.size();
    if (is_dot_segment(std::string_view(cleaned).substr(start, end - start))) {
      return ApiError::invalid_path(std::string(value));
    }
    start = end + 1;
  }
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '?') {
      out += "%3F";
    } else if (c == '#') {
      out += "%23";
    } else {
      out += c;
    }
  }
  return out;
}

PathText fill_path(std::string_view tmpl, const std::vector<ApiResult<std::string>>& values) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < tmpl.size(); ++i) {
    if (tmpl[i] == '{' && i + 1 < tmpl.size() && tmpl[i + 1] == '}' && next < values.size()) {
      const auto& value = values[next++];
      if (!value) return value.error();
      out += *value;
      ++i;
    } else {
      out += tmpl[i];
    }
  }
  return out;
}

std::string make_url(std::string_view base, std::string_view path, std::string_view query) {
  std::string raw_path = without_tabs_and_newlines(path);
  if (query.empty()) {
    while (!raw_path.empty() && static_cast<unsigned char>(raw_path.back()) <= 0x20) raw_path.pop_back();
  }
  std::string url(base);
  url += '/';
  for (char c : raw_path) {
    auto u = static_cast<unsigned char>(c);
    if (c == '\\') {
      url += '/';
    } else if (in_path_encode_set(u)) {
      percent_encode_byte(url, u);
    } else {
      url += c;
    }
  }
  if (!query.empty()) {
    url += '?';
    url += query;
  }
  return url;
}

std::string form_encode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z')) {
      out += c;
    } else if (c == '*' || c == '-' || c == '.' || c == '_') {
      out += c;
    } else if (c == ' ') {
      out += '+';
    } else {
      percent_encode_byte(out, u);
    }
  }
  return out;
}

}  // namespace qel::api
