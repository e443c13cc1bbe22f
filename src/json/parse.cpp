#include "json/parse.hpp"

#include <vector>

namespace qel::json {
namespace {

class DomBuilder {
 public:
  using number_integer_t = Value::number_integer_t;
  using number_unsigned_t = Value::number_unsigned_t;
  using number_float_t = Value::number_float_t;
  using string_t = Value::string_t;
  using binary_t = Value::binary_t;

  Value root;
  std::string error;

  bool null() { return add(Value(nullptr)) != nullptr; }
  bool boolean(bool v) { return add(Value(v)) != nullptr; }
  bool number_integer(number_integer_t v) { return add(Value(v)) != nullptr; }
  bool number_unsigned(number_unsigned_t v) { return add(Value(v)) != nullptr; }
  bool number_float(number_float_t v, const string_t&) { return add(Value(v)) != nullptr; }
  bool string(string_t& v) { return add(Value(std::move(v))) != nullptr; }
  bool binary(binary_t&) { return add(Value(nullptr)) != nullptr; }

  bool start_object(std::size_t) { return open(Value::object()); }
  bool start_array(std::size_t) { return open(Value::array()); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }

  bool key(string_t& k) {
    Value& object = *stack_.back();
    if (object.contains(k)) object[std::string(1, '\xff') + k] = nullptr;
    slot_ = &object[k];
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) {
    if (error.empty()) error = strip_prefix(ex.what());
    return false;
  }

 private:
  std::vector<Value*> stack_;
  Value* slot_ = nullptr;

  static std::string strip_prefix(std::string_view what) {
    // nlohmann prefixes its messages with "[json.exception.parse_error.101] ".
    if (!what.empty() && what.front() == '[') {
      auto end = what.find("] ");
      if (end != std::string_view::npos) what.remove_prefix(end + 2);
    }
    return std::string(what);
  }

  Value* add(Value&& v) {
    if (stack_.empty()) {
      root = std::move(v);
      return &root;
    }
    Value& parent = *stack_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(v));
      return &parent.back();
    }
    *slot_ = std::move(v);
    return slot_;
  }

  bool open(Value&& container) {
    if (stack_.size() >= kMaxDepth) {
      error = "recursion limit exceeded";
      return false;
    }
    stack_.push_back(add(std::move(container)));
    return true;
  }

  bool close() {
    stack_.pop_back();
    return true;
  }
};

}  // namespace

Result<Value, ParseError> parse(std::string_view text) {
  // The JSON library would skip a byte-order mark; JSON text has none.
  if (text.starts_with("\xEF\xBB\xBF")) return ParseError{"expected value at line 1 column 1"};
  DomBuilder builder;
  bool ok = false;
  try {
    ok = Value::sax_parse(text.begin(), text.end(), &builder, nlohmann::detail::input_format_t::json, true);
  } catch (const std::exception& ex) {
    if (builder.error.empty()) builder.error = ex.what();
    ok = false;
  }
  if (!ok) {
    if (builder.error.empty()) builder.error = "invalid JSON";
    return ParseError{std::move(builder.error)};
  }
  return std::move(builder.root);
}

Value without_markers(const Value& value) {
  if (value.is_object()) {
    Value out = Value::object();
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (!is_duplicate_marker(it.key())) out[it.key()] = without_markers(it.value());
    }
    return out;
  }
  if (value.is_array()) {
    Value out = Value::array();
    for (const auto& element : value) out.push_back(without_markers(element));
    return out;
  }
  return value;
}

}  // namespace qel::json
