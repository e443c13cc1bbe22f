#pragma once
// One declarative field list per record. A record is a plain struct plus
//
//   QEL_FIELDS(Label, color, description, id, name);            // answers, bodies
//   QEL_INPUT(GetIssueInput, (repo, "仓库路径"), (number, "Issue 编号"));  // tool inputs
//
// and everything else is derived from that list by the generic `Codec`s
// below: decoding (absent and null leave a field absent, unknown keys are
// skipped, a repeated known key is an error, kinds are strict unless the
// field's type says otherwise), compact encoding in list order with absent
// fields left out, and, for inputs, the JSON Schema.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/result.hpp"
#include "json/decode_error.hpp"
#include "json/for_each.hpp"
#include "json/parse.hpp"
#include "json/write.hpp"

namespace qel::json {

template <class T>
using Opt = std::optional<T>;
template <class T>
using StrMap = std::map<std::string, T>;  // written in key order; callers must not rely on it
using AnyJson = Value;

template <class C, class M>
struct Field {
  std::string_view name;
  M C::*member;
  std::string_view description;
};

template <class C, class M>
constexpr Field<C, M> field(std::string_view name, M C::*member, std::string_view description = {}) {
  return {name, member, description};
}

template <class T>
concept Record = requires(const T* p) {
  qel_record_fields(p);
  qel_record_name(p);
};

template <Record T>
constexpr auto fields_of() {
  return qel_record_fields(static_cast<const T*>(nullptr));
}
template <Record T>
constexpr std::string_view name_of() {
  return qel_record_name(static_cast<const T*>(nullptr));
}

// Collects the `$defs` of nested input records while a schema is built.
struct SchemaBuilder {
  Value defs = Value::object();
  template <class T>
  void define();
};

// Turns a schema into its nullable form: ["t","null"] for a single type,
// anyOf [schema, {type: null}] for anything else (a $ref).
Value nullable(Value schema);

template <class T>
struct Codec;

// ---- scalars ---------------------------------------------------------------

template <>
struct Codec<std::string> {
  static bool decode(const Value& v, std::string& out, DecodeError& err);
  static void encode(std::string& out, const std::string& s) { write_string(out, s); }
  static Value schema(SchemaBuilder&) { return {{"type", "string"}}; }
};

template <>
struct Codec<std::int64_t> {
  static bool decode(const Value& v, std::int64_t& out, DecodeError& err);
  static void encode(std::string& out, std::int64_t n) { write_int(out, n); }
  static Value schema(SchemaBuilder&) { return {{"format", "int64"}, {"type", "integer"}}; }
};

template <>
struct Codec<double> {
  static bool decode(const Value& v, double& out, DecodeError& err);
  static void encode(std::string& out, double d) { write_double(out, d); }
  static Value schema(SchemaBuilder&) { return {{"format", "double"}, {"type", "number"}}; }
};

template <>
struct Codec<bool> {
  static bool decode(const Value& v, bool& out, DecodeError& err);
  static void encode(std::string& out, bool b) { out += b ? "true" : "false"; }
  static Value schema(SchemaBuilder&) { return {{"type", "boolean"}}; }
};

// Any JSON value, kept as it came (objects write their keys in byte order).
template <>
struct Codec<Value> {
  static bool decode(const Value& v, Value& out, DecodeError&) {
    out = without_markers(v);
    return true;
  }
  static void encode(std::string& out, const Value& v) { write_value(out, v); }
};

// An input flag with a default: not required, schema "boolean", and absent
// when the caller leaves it out, so the tool can tell "false" from "not given".
struct DefaultedBool {
  std::optional<bool> value;
  bool is_true() const { return value.value_or(false); }
};

template <>
struct Codec<DefaultedBool> {
  static constexpr bool optional = true;
  static bool decode(const Value& v, DefaultedBool& out, DecodeError& err);
  static bool present(const DefaultedBool& b) { return b.value.has_value(); }
  static void encode(std::string& out, const DefaultedBool& b) { out += *b.value ? "true" : "false"; }
  static Value schema(SchemaBuilder&) { return {{"type", "boolean"}}; }
};

// ---- wrappers and containers ---------------------------------------------

template <class T>
struct Codec<std::optional<T>> {
  static constexpr bool optional = true;
  static bool decode(const Value& v, std::optional<T>& out, DecodeError& err) {
    if (v.is_null()) {
      out.reset();
      return true;
    }
    return Codec<T>::decode(v, out.emplace(), err);
  }
  static bool present(const std::optional<T>& o) { return o.has_value(); }
  static void encode(std::string& out, const std::optional<T>& o) { Codec<T>::encode(out, *o); }
  static Value schema(SchemaBuilder& b) { return nullable(Codec<T>::schema(b)); }
};

template <class T>
struct Codec<std::vector<T>> {
  static bool decode(const Value& v, std::vector<T>& out, DecodeError& err) {
    if (!v.is_array()) return mismatch(err, v, "a sequence");
    out.clear();
    out.reserve(v.size());
    std::size_t i = 0;
    for (const auto& element : v) {
      if (!Codec<T>::decode(element, out.emplace_back(), err)) {
        err.in_index(i);
        return false;
      }
      ++i;
    }
    return true;
  }
  static void encode(std::string& out, const std::vector<T>& list) {
    out += '[';
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (i) out += ',';
      Codec<T>::encode(out, list[i]);
    }
    out += ']';
  }
  static Value schema(SchemaBuilder& b) { return {{"items", Codec<T>::schema(b)}, {"type", "array"}}; }
};

template <class T>
struct Codec<std::map<std::string, T>> {
  static bool decode(const Value& v, std::map<std::string, T>& out, DecodeError& err) {
    if (!v.is_object()) return mismatch(err, v, "a map");
    out.clear();
    for (auto it = v.begin(); it != v.end(); ++it) {
      if (is_duplicate_marker(it.key())) continue;
      if (!Codec<T>::decode(it.value(), out[it.key()], err)) {
        err.in_field(it.key());
        return false;
      }
    }
    return true;
  }
  static void encode(std::string& out, const std::map<std::string, T>& map) {
    out += '{';
    bool first = true;
    for (const auto& [key, value] : map) {
      if (!first) out += ',';
      first = false;
      write_string(out, key);
      out += ':';
      Codec<T>::encode(out, value);
    }
    out += '}';
  }
};

// ---- records ---------------------------------------------------------------

template <class T>
constexpr bool is_optional_field() {
  if constexpr (requires { Codec<T>::optional; }) {
    return Codec<T>::optional;
  } else {
    return false;
  }
}

template <class T>
bool is_present(const T& value) {
  if constexpr (requires { Codec<T>::present(value); }) {
    return Codec<T>::present(value);
  } else {
    return true;
  }
}

template <Record T>
struct Codec<T> {
  static bool decode(const Value& v, T& out, DecodeError& err) {
    if (!v.is_object()) return mismatch(err, v, "struct " + std::string(name_of<T>()));
    constexpr auto fields = fields_of<T>();
    constexpr std::size_t n = std::tuple_size_v<decltype(fields)>;
    bool seen[n] = {};
    for (auto it = v.begin(); it != v.end(); ++it) {
      const std::string& key = it.key();
      if (is_duplicate_marker(key)) {
        if (find(fields, marked_key(key)) < n) {
          return fail(err, "duplicate field `" + std::string(marked_key(key)) + "`");
        }
        continue;
      }
      std::size_t index = 0;
      bool ok = true;
      std::apply(
          [&](const auto&... f) {
            ((f.name == key ? (seen[index] = true, ok = decode_member(it.value(), out.*(f.member), err)) : false,
              ++index),
             ...);
          },
          fields);
      if (!ok) {
        err.in_field(key);
        return false;
      }
    }
    std::size_t index = 0;
    bool complete = true;
    std::apply(
        [&](const auto&... f) {
          ((complete && !seen[index] && !is_optional_field<std::remove_cvref_t<decltype(out.*(f.member))>>()
                ? (complete = fail(err, "missing field `" + std::string(f.name) + "`"))
                : false,
            ++index),
           ...);
        },
        fields);
    return complete;
  }

  static void encode(std::string& out, const T& record) {
    out += '{';
    bool first = true;
    std::apply([&](const auto&... f) { (encode_member(out, first, f.name, record.*(f.member)), ...); },
               fields_of<T>());
    out += '}';
  }

  static Value schema(SchemaBuilder& b) {
    b.define<T>();
    return {{"$ref", "#/$defs/" + std::string(name_of<T>())}};
  }

  static Value object_schema(SchemaBuilder& b) {
    Value properties = Value::object();
    Value required = Value::array();
    std::apply(
        [&](const auto&... f) {
          (
              [&] {
                using M = std::remove_cvref_t<decltype(std::declval<T>().*(f.member))>;
                Value property = Codec<M>::schema(b);
                property["description"] = std::string(f.description);
                properties[std::string(f.name)] = std::move(property);
                if (!is_optional_field<M>()) required.push_back(std::string(f.name));
              }(),
              ...);
        },
        fields_of<T>());
    Value schema = {{"properties", std::move(properties)}, {"type", "object"}};
    if (!required.empty()) schema["required"] = std::move(required);
    return schema;
  }

 private:
  template <class Fields>
  static constexpr std::size_t find(const Fields& fields, std::string_view key) {
    std::size_t index = 0, found = std::tuple_size_v<Fields>;
    std::apply([&](const auto&... f) { ((f.name == key && found == std::tuple_size_v<Fields> ? found = index : 0, ++index), ...); },
               fields);
    return found;
  }

  template <class M>
  static bool decode_member(const Value& v, M& member, DecodeError& err) {
    return Codec<M>::decode(v, member, err);
  }

  template <class M>
  static void encode_member(std::string& out, bool& first, std::string_view name, const M& member) {
    if (!is_present(member)) return;
    if (!first) out += ',';
    first = false;
    write_string(out, name);
    out += ':';
    Codec<M>::encode(out, member);
  }
};

template <class T>
void SchemaBuilder::define() {
  std::string name(name_of<T>());
  if (defs.contains(name)) return;
  defs[name] = Value::object();  // reserve the name first: records may refer to each other
  defs[name] = Codec<T>::object_schema(*this);
}

// ---- entry points ----------------------------------------------------------

template <class T>
Result<T, DecodeError> decode(const Value& v) {
  T out{};
  DecodeError err;
  if (!Codec<T>::decode(v, out, err)) return err;
  return out;
}

template <class T>
std::string encode(const T& value) {
  std::string out;
  Codec<T>::encode(out, value);
  return out;
}

// The draft 2020-12 schema of an input record, keys in byte order throughout.
template <Record T>
Value input_schema() {
  SchemaBuilder builder;
  Value schema = Codec<T>::object_schema(builder);
  schema["$schema"] = "https://json-schema.org/draft/2020-12/schema";
  schema["title"] = std::string(name_of<T>());
  if (!builder.defs.empty()) schema["$defs"] = std::move(builder.defs);
  return schema;
}

}  // namespace qel::json

#define QEL_FIELD_ENTRY_(m) ::qel::json::field(#m, &Self::m)
#define QEL_INPUT_ENTRY_I_(m, d) ::qel::json::field(#m, &Self::m, d)
#define QEL_INPUT_ENTRY_(p) QEL_INPUT_ENTRY_I_ p

// Declares the field list of record T (answer record or request body).
#define QEL_FIELDS(T, ...)                                                    \
  [[maybe_unused]] constexpr auto qel_record_fields(const T*) {              \
    using Self = T;                                                           \
    return std::make_tuple(QEL_FOR_EACH(QEL_FIELD_ENTRY_, __VA_ARGS__));      \
  }                                                                           \
  [[maybe_unused]] constexpr std::string_view qel_record_name(const T*) { return #T; }

// Declares the field list of a tool input record: (field, "description") pairs.
#define QEL_INPUT(T, ...)                                                     \
  [[maybe_unused]] constexpr auto qel_record_fields(const T*) {              \
    using Self = T;                                                           \
    return std::make_tuple(QEL_FOR_EACH(QEL_INPUT_ENTRY_, __VA_ARGS__));      \
  }                                                                           \
  [[maybe_unused]] constexpr std::string_view qel_record_name(const T*) { return #T; }
