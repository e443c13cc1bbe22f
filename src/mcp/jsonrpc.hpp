#pragma once
// JSON-RPC 2.0 messages as they arrive on one line, and the lines we answer with.
#include <optional>
#include <string>
#include <string_view>

#include "json/parse.hpp"

namespace qel::mcp {

struct Message {
  enum class Kind { Request, Notification, Response };
  Kind kind = Kind::Request;
  std::string id;  // the request id as JSON text (a number or a string), echoed verbatim
  std::string method;
  json::Value params;  // null when absent
};

// Nothing when the line is not a JSON-RPC 2.0 message (bad JSON, a batch, a
// wrong `jsonrpc`, an id that is neither an integer nor a string, ...).
std::optional<Message> parse_message(std::string_view line);

std::string result_line(std::string_view id, std::string_view result_json);
std::string error_line(std::string_view id, int code, std::string_view message);

inline constexpr int kParseError = -32700;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInternalError = -32603;

}  // namespace qel::mcp
