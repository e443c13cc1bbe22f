#pragma once
// Addresses of platform endpoints: "{}/-/issues/{}" filled with a repository
// path and a number, then written the way a WHATWG URL parser would write it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/error.hpp"
#include "json/record.hpp"

namespace qel::api {

// A filled path template, before URL serialization, or the value it refused.
using PathText = ApiResult<std::string>;

// One value for a path placeholder. A "." or ".." segment (also written with
// %2e) is refused; "?" and "#" are escaped so they stay part of the value.
ApiResult<std::string> path_value(std::string_view value);
inline ApiResult<std::string> path_value(std::int64_t value) { return std::to_string(value); }

PathText fill_path(std::string_view tmpl, const std::vector<ApiResult<std::string>>& values);

// base + "/" + path [+ "?" + query], with the path serialized like a browser:
// tabs and line breaks dropped, trailing blanks trimmed, "\" as "/", spaces,
// quotes, angle brackets, backticks, braces and non-ASCII bytes percent-encoded
// (upper-case hex); existing percent sequences stay as they are.
std::string make_url(std::string_view base, std::string_view path, std::string_view query);

// application/x-www-form-urlencoded: letters, digits and *-._ stay, a space is
// "+", every other byte is %XX.
std::string form_encode(std::string_view text);

// Query text from a query record: each present field as name=value in the
// record's order; integers in decimal, booleans as true/false.
template <json::Record Q>
std::string query_string(const Q& query) {
  std::string out;
  auto add = [&](std::string_view name, const auto& value) {
    using V = std::remove_cvref_t<decltype(value)>;
    std::string text;
    if constexpr (std::is_same_v<V, std::optional<std::string>>) {
      if (!value) return;
      text = form_encode(*value);
    } else if constexpr (std::is_same_v<V, std::optional<std::int64_t>>) {
      if (!value) return;
      text = std::to_string(*value);
    } else if constexpr (std::is_same_v<V, std::optional<bool>>) {
      if (!value) return;
      text = *value ? "true" : "false";
    } else {
      static_assert(sizeof(V) == 0, "query fields are optional strings, integers or booleans");
    }
    if (!out.empty()) out += '&';
    out += form_encode(name);
    out += '=';
    out += text;
  };
  std::apply([&](const auto&... f) { (add(f.name, query.*(f.member)), ...); }, json::fields_of<Q>());
  return out;
}

}  // namespace qel::api
