#include "mcp_client.hpp"

#include <chrono>
#include <stdexcept>

namespace qeltest {
namespace {

using Clock = std::chrono::steady_clock;

std::string message_line(std::optional<int> id, std::string_view method, std::string_view params_json) {
  std::string line = R"({"jsonrpc":"2.0",)";
  if (id) line += R"("id":)" + std::to_string(*id) + ",";
  line += R"("method":)" + nlohmann::json(std::string(method)).dump();
  if (!params_json.empty()) {
    line += R"(,"params":)";
    line += params_json;
  }
  line += "}";
  return line;
}

std::string tool_params(std::string_view name, std::string_view arguments_json) {
  std::string params = R"({"name":)" + nlohmann::json(std::string(name)).dump();
  if (!arguments_json.empty()) {
    params += R"(,"arguments":)";
    params += arguments_json;
  }
  params += "}";
  return params;
}

// The integer id of a response line, if it has one.
std::optional<long long> id_of(const std::string& line) {
  auto message = nlohmann::json::parse(line, nullptr, false);
  if (message.is_discarded() || !message.is_object()) return std::nullopt;
  auto id = message.find("id");
  if (id == message.end() || !id->is_number_integer()) return std::nullopt;
  return id->get<long long>();
}

}  // namespace

McpClient::McpClient(ServerProcess::Options options, int timeout_ms)
    : process_(std::move(options)), timeout_ms_(timeout_ms) {}

void McpClient::fail(const std::string& what) const {
  throw std::runtime_error(what + "\n--- server stderr ---\n" + process_.stderr_text());
}

// Puts a line read from the server where whoever waits for it will look.
void McpClient::file_line(std::string line) {
  if (auto line_id = id_of(line)) {
    by_id_[*line_id] = std::move(line);
  } else {
    unclaimed_.push_back(std::move(line));
  }
}

nlohmann::json McpClient::initialize(std::string_view protocol_version) {
  process_.send(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":)" +
                nlohmann::json(std::string(protocol_version)).dump() +
                R"(,"capabilities":{},"clientInfo":{"name":"test","version":"0"}}})");
  std::string response = wait_response(0);
  send_notification("notifications/initialized");
  return nlohmann::json::parse(response);
}

int McpClient::send_request(std::string_view method, std::string_view params_json) {
  int id = next_id_++;
  process_.send(message_line(id, method, params_json));
  return id;
}

void McpClient::send_notification(std::string_view method, std::string_view params_json) {
  process_.send(message_line(std::nullopt, method, params_json));
}

std::string McpClient::wait_response(int id) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms_);
  for (;;) {
    if (auto known = by_id_.find(id); known != by_id_.end()) {
      std::string line = std::move(known->second);
      by_id_.erase(known);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) fail("no response with id " + std::to_string(id) + " in time");
    auto line = process_.read_line(static_cast<int>(left.count()));
    if (!line) {
      if (Clock::now() < deadline) fail("server output ended before the response with id " + std::to_string(id));
      continue;  // the next round reports the time-out
    }
    file_line(std::move(*line));
  }
}

std::optional<std::string> McpClient::next_unclaimed_line(int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (unclaimed_.empty()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    auto line = process_.read_line(static_cast<int>(left.count()));
    if (!line) return std::nullopt;
    file_line(std::move(*line));
  }
  std::string line = std::move(unclaimed_.front());
  unclaimed_.erase(unclaimed_.begin());
  return line;
}

std::string McpClient::request_raw(std::string_view method, std::string_view params_json) {
  return wait_response(send_request(method, params_json));
}

nlohmann::json McpClient::request(std::string_view method, std::string_view params_json) {
  std::string line = request_raw(method, params_json);
  auto message = nlohmann::json::parse(line, nullptr, false);
  if (message.is_discarded()) fail("response is not JSON: " + line);
  return message;
}

int McpClient::send_tool_call(std::string_view name, std::string_view arguments_json) {
  return send_request("tools/call", tool_params(name, arguments_json));
}

std::string McpClient::call_tool_raw(std::string_view name, std::string_view arguments_json) {
  return wait_response(send_tool_call(name, arguments_json));
}

ToolResult McpClient::call_tool(std::string_view name, std::string_view arguments_json) {
  return parse_tool_result(call_tool_raw(name, arguments_json));
}

ToolResult McpClient::parse_tool_result(const std::string& line) {
  auto message = nlohmann::json::parse(line, nullptr, false);
  try {
    if (message.is_discarded()) throw std::runtime_error("not JSON");
    ToolResult result;
    if (message.contains("error")) {
      const auto& error = message.at("error");
      result.error = RpcError{error.at("code").get<int>(), error.at("message").get<std::string>()};
      return result;
    }
    const auto& body = message.at("result");
    result.text = body.at("content").at(0).at("text").get<std::string>();
    result.is_error = body.value("isError", false);
    return result;
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("not a tools/call response (") + e.what() + "): " + line);
  }
}

}  // namespace qeltest
