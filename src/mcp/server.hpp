#pragma once
// The MCP service on standard input and output: the initialization
// handshake, tool listing and tool calls, and the default answers for the
// rest of the protocol. Each tool call runs on its own thread, so calls
// overlap and answers leave in whatever order they finish.
#include <optional>
#include <string>

#include "api/client.hpp"

namespace qel::mcp {

struct ServerIdentity {
  static constexpr std::string_view name = "qelkit-mcp";
  static constexpr std::string_view version = "1.0.0";
  static constexpr std::string_view protocol_version = "2025-11-25";
  static constexpr std::string_view instructions =
      "QEL MCP Server — 在命令行中通过 MCP 协议管理 QEL 平台资源（Issue / PR / 仓库 / 构建等）";
};

// Serves until standard input ends, then waits for calls still running.
// Returns the error text when the service fails (the handshake above all).
std::optional<std::string> serve(const api::ApiClient& api, int in_fd, int out_fd);

// The answers to `initialize` and `tools/list` (exposed for tests).
std::string initialize_result(const json::Value& params);
std::string tools_list_result();

}  // namespace qel::mcp
