#include "json/record.hpp"

#include <limits>

namespace qel::json {

Value nullable(Value schema) {
  auto type = schema.find("type");
  if (type != schema.end() && type->is_string()) {
    *type = Value::array({*type, "null"});
    return schema;
  }
  return {{"anyOf", Value::array({std::move(schema), {{"type", "null"}}})}};
}

bool Codec<std::string>::decode(const Value& v, std::string& out, DecodeError& err) {
  if (!v.is_string()) return mismatch(err, v, "a string");
  out = v.get_ref<const std::string&>();
  return true;
}

bool Codec<std::int64_t>::decode(const Value& v, std::int64_t& out, DecodeError& err) {
  if (v.is_number_unsigned()) {
    auto u = v.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return fail(err, "invalid value: integer `" + std::to_string(u) + "`, expected i64");
    }
    out = static_cast<std::int64_t>(u);
    return true;
  }
  if (v.is_number_integer()) {
    out = v.get<std::int64_t>();
    return true;
  }
  return mismatch(err, v, "i64");
}

bool Codec<double>::decode(const Value& v, double& out, DecodeError& err) {
  if (!v.is_number()) return mismatch(err, v, "f64");
  out = v.get<double>();
  return true;
}

bool Codec<bool>::decode(const Value& v, bool& out, DecodeError& err) {
  if (!v.is_boolean()) return mismatch(err, v, "a boolean");
  out = v.get<bool>();
  return true;
}

bool Codec<DefaultedBool>::decode(const Value& v, DefaultedBool& out, DecodeError& err) {
  if (v.is_null()) {
    out.value.reset();
    return true;
  }
  if (!v.is_boolean()) return mismatch(err, v, "a boolean");
  out.value = v.get<bool>();
  return true;
}

}  // namespace qel::json
