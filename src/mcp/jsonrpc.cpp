#include "mcp/jsonrpc.hpp"

#include <limits>

#include "json/write.hpp"

namespace qel::mcp {
namespace {

std::optional<std::string> id_text(const json::Value& id) {
  if (id.is_string()) return json::quote_string(id.get_ref<const std::string&>());
  if (id.is_number_integer() && !id.is_number_unsigned()) return std::to_string(id.get<std::int64_t>());
  if (id.is_number_unsigned() &&
      id.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return std::to_string(id.get<std::uint64_t>());
  }
  return std::nullopt;
}

}  // namespace

std::optional<Message> parse_message(std::string_view line) {
  auto parsed = json::parse(line);
  if (!parsed || !parsed->is_object()) return std::nullopt;
  const json::Value& v = *parsed;
  auto version = v.find("jsonrpc");
  if (version == v.end() || *version != "2.0") return std::nullopt;

  Message message;
  auto id = v.find("id");
  auto method = v.find("method");
  if (method != v.end()) {
    if (!method->is_string()) return std::nullopt;
    message.method = method->get<std::string>();
    auto params = v.find("params");
    if (params != v.end()) {
      if (!params->is_object() && !params->is_null()) return std::nullopt;
      message.params = *params;
    }
    if (id == v.end()) {
      message.kind = Message::Kind::Notification;
      return message;
    }
    auto text = id_text(*id);
    if (!text) return std::nullopt;
    message.kind = Message::Kind::Request;
    message.id = std::move(*text);
    return message;
  }
  if (id != v.end() && (v.contains("result") || v.contains("error"))) {
    auto text = id_text(*id);
    if (!text) return std::nullopt;
    message.kind = Message::Kind::Response;
    message.id = std::move(*text);
    return message;
  }
  return std::nullopt;
}

std::string result_line(std::string_view id, std::string_view result_json) {
  std::string out = R"({"jsonrpc":"2.0","id":)";
  out += id;
  out += R"(,"result":)";
  out += result_json;
  out += '}';
  return out;
}

std::string error_line(std::string_view id, int code, std::string_view message) {
  std::string out = R"({"jsonrpc":"2.0","id":)";
  out += id;
  out += R"(,"error":{"code":)";
  out += std::to_string(code);
  out += R"(,"message":)";
  json::write_string(out, message);
  out += "}}";
  return out;
}

}  // namespace qel::mcp
