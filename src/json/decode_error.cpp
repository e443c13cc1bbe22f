#include "json/decode_error.hpp"

#include "json/write.hpp"

namespace qel::json {

void DecodeError::in_field(std::string_view name) {
  path.insert(0, std::string(".") + std::string(name));
}

void DecodeError::in_index(std::size_t index) { path.insert(0, "[" + std::to_string(index) + "]"); }

std::string DecodeError::text() const {
  if (path.empty()) return message;
  std::string_view where = path;
  if (where.front() == '.') where.remove_prefix(1);
  return message + " at " + std::string(where);
}

std::string describe(const Value& v) {
  switch (v.type()) {
    case Value::value_t::null: return "null";
    case Value::value_t::boolean: return v.get<bool>() ? "boolean `true`" : "boolean `false`";
    case Value::value_t::number_integer: return "integer `" + std::to_string(v.get<std::int64_t>()) + "`";
    case Value::value_t::number_unsigned: return "integer `" + std::to_string(v.get<std::uint64_t>()) + "`";
    case Value::value_t::number_float: return "floating point `" + format_double(v.get<double>()) + "`";
    case Value::value_t::string: return "string " + quote_string(v.get_ref<const std::string&>());
    case Value::value_t::array: return "sequence";
    case Value::value_t::object: return "map";
    default: return "unknown value";
  }
}

bool mismatch(DecodeError& err, const Value& found, std::string_view expected) {
  err.message = "invalid type: " + describe(found) + ", expected " + std::string(expected);
  return false;
}

bool fail(DecodeError& err, std::string message) {
  err.message = std::move(message);
  return false;
}

}  // namespace qel::json
