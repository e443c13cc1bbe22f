#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server_process.hpp"

namespace qeltest {

struct RpcError {
  int code = 0;
  std::string message;
};

// What a tools/call came back with: either a result (the text of its first
// content item and isError) or a JSON-RPC error.
struct ToolResult {
  std::string text;
  bool is_error = false;
  std::optional<RpcError> error;
};

// Speaks MCP to a ServerProcess it owns: one JSON-RPC message per line.
// Requests get ids 1, 2, 3 ... (initialize uses 0); responses may come back
// in any order, and lines that belong to other ids wait in a buffer until
// asked for. Failures of the exchange itself (no answer in time, a line
// that is not JSON) throw std::runtime_error carrying the server's stderr.
class McpClient {
 public:
  explicit McpClient(ServerProcess::Options options, int timeout_ms = 10000);

  ServerProcess& process() { return process_; }

  // Handshake: the initialize request (id 0) with the given protocol version,
  // then notifications/initialized. Returns the whole parsed response.
  nlohmann::json initialize(std::string_view protocol_version = "2025-11-25");

  // Sends a request and returns its id; `params_json` is inserted verbatim,
  // and left out entirely when empty.
  int send_request(std::string_view method, std::string_view params_json = {});
  void send_notification(std::string_view method, std::string_view params_json = {});
  // The raw response line with this id.
  std::string wait_response(int id);

  std::string request_raw(std::string_view method, std::string_view params_json = {});
  nlohmann::json request(std::string_view method, std::string_view params_json = {});

  // tools/call; `arguments_json` is inserted verbatim, left out when empty.
  int send_tool_call(std::string_view name, std::string_view arguments_json = {});
  std::string call_tool_raw(std::string_view name, std::string_view arguments_json = {});
  ToolResult call_tool(std::string_view name, std::string_view arguments_json = {});

  // Reads a tools/call response line; throws if it has neither shape.
  static ToolResult parse_tool_result(const std::string& line);

  // The next line nobody has asked for by id yet (notifications, answers
  // without a usable id such as parse errors), or nullopt after the time-out.
  std::optional<std::string> next_unclaimed_line(int timeout_ms);

 private:
  void file_line(std::string line);
  [[noreturn]] void fail(const std::string& what) const;

  ServerProcess process_;
  int timeout_ms_;
  int next_id_ = 1;
  std::map<long long, std::string> by_id_;  // answers read while waiting for another id
  std::vector<std::string> unclaimed_;      // lines without an integer id
};

}  // namespace qeltest
