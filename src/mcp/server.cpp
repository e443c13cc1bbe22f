#include "mcp/server.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <fmt/format.h>

#include "core/log.hpp"
#include "json/write.hpp"
#include "mcp/jsonrpc.hpp"
#include "mcp/stdio_transport.hpp"
#include "tools/tool.hpp"

namespace qel::mcp {
namespace {

constexpr std::size_t kMaxLineBytes = 64u << 20;  // a longer line is dropped as unparsable
constexpr std::size_t kMaxCallsInFlight = 256;

// Counts running tool calls so the reader can hold back a flood and the
// service can let the last answers out before the process ends.
class CallTracker {
 public:
  void begin() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return running_ < kMaxCallsInFlight; });
    ++running_;
  }
  void end() {
    std::lock_guard lock(mutex_);
    --running_;
    changed_.notify_all();
  }
  void wait_idle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return running_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t running_ = 0;
};

std::string call_result(const tools::ToolOutcome& outcome) {
  std::string out = R"({"content":[{"type":"text","text":)";
  json::write_string(out, outcome.text);
  out += R"(}],"isError":)";
  out += outcome.is_error ? "true" : "false";
  out += '}';
  return out;
}

const tools::Tool* find_tool(std::string_view name) {
  for (const auto& t : tools::all_tools()) {
    if (t.name == name) return &t;
  }
  return nullptr;
}

class Service {
 public:
  Service(const api::ApiClient& api, int in_fd, int out_fd)
      : api_(api), reader_(in_fd, kMaxLineBytes), writer_(out_fd) {}

  std::optional<std::string> run() {
    if (auto error = handshake()) return error;
    log::enter_service_span();
    log::info("qelkit_mcp::server", "client initialized");
    while (auto line = reader_.next()) {
      auto message = line->oversized ? std::nullopt : parse_message(line->text);
      if (!message) {
        if (!send(error_line("null", kParseError, "Parse error"))) break;
        continue;
      }
      if (message->kind != Message::Kind::Request) continue;  // notifications and responses need no answer
      if (!handle_request(*message)) break;
    }
    calls_.wait_idle();
    return std::nullopt;
  }

 private:
  // The first message must be `initialize`; a `ping` before it is answered.
  std::optional<std::string> handshake() {
    for (;;) {
      auto line = reader_.next();
      if (!line) return "connection closed: initialize request";
      auto message = line->oversized ? std::nullopt : parse_message(line->text);
      if (!message) {
        if (auto error = writer_.write_line(error_line("null", kParseError, "Parse error"))) {
          return fmt::format("Send message error {}, when sending error response", *error);
        }
        continue;
      }
      if (message->kind == Message::Kind::Request && message->method == "ping") {
        if (auto error = writer_.write_line(result_line(message->id, "{}"))) {
          return fmt::format("Send message error {}, when sending pre-init ping response", *error);
        }
        continue;
      }
      if (message->kind == Message::Kind::Request && message->method == "initialize") {
        if (auto error = writer_.write_line(result_line(message->id, initialize_result(message->params)))) {
          return fmt::format("Send message error {}, when sending initialize response", *error);
        }
        return std::nullopt;
      }
      return "expect initialized request, but received: " + line->text;
    }
  }

  bool send(const std::string& line) { return !writer_.write_line(line).has_value(); }

  bool handle_request(const Message& m) {
    const std::string& method = m.method;
    if (method == "ping") return send(result_line(m.id, "{}"));
    if (method == "initialize") return send(result_line(m.id, initialize_result(m.params)));
    if (method == "tools/list") return send(result_line(m.id, tools_list_result()));
    if (method == "tools/call") return start_call(m);
    if (method == "prompts/list") return send(result_line(m.id, R"({"prompts":[]})"));
    if (method == "resources/list") return send(result_line(m.id, R"({"resources":[]})"));
    if (method == "resources/templates/list") return send(result_line(m.id, R"({"resourceTemplates":[]})"));
    if (method == "completion/complete") return send(result_line(m.id, R"({"completion":{"values":[]}})"));
    return send(error_line(m.id, kMethodNotFound, method));
  }

  bool start_call(const Message& m) {
    const json::Value empty = json::Value::object();
    const json::Value& params = m.params.is_object() ? m.params : empty;
    auto name = params.find("name");
    if (name == params.end() || !name->is_string()) {
      return send(error_line(m.id, kInvalidParams, "failed to deserialize parameters: missing field `name`"));
    }
    bool wants_task = params.contains("task") && !params["task"].is_null();
    const tools::Tool* tool = find_tool(name->get_ref<const std::string&>());
    if (tool && wants_task) return send(error_line(m.id, kInvalidParams, "Tool does not support task-based invocation"));
    if (!tool && wants_task) return send(error_line(m.id, kInternalError, "Task processing not implemented"));
    if (!tool) return send(error_line(m.id, kInvalidParams, "tool not found"));

    auto args_it = params.find("arguments");
    // The arguments are an object like any other: a key given twice keeps its
    // last value rather than failing the call.
    json::Value args =
        (args_it == params.end() || args_it->is_null()) ? json::Value::object() : json::without_markers(*args_it);
    calls_.begin();
    try {
      std::thread([this, tool, id = m.id, args] {
        run_call(*tool, id, args);
        calls_.end();
      }).detach();
    } catch (const std::exception&) {
      // No thread to be had: answer on this one rather than not at all.
      run_call(*tool, m.id, args);
      calls_.end();
    }
    return true;
  }

  void run_call(const tools::Tool& tool, const std::string& id, const json::Value& args) {
    std::string line;
    try {
      std::string param_error;
      auto outcome = tool.call(api_, args, param_error);
      line = outcome ? result_line(id, call_result(*outcome))
                     : error_line(id, kInvalidParams, "failed to deserialize parameters: " + param_error);
    } catch (const std::exception& ex) {
      line = result_line(id, call_result({std::string("内部错误：") + ex.what(), true}));
    } catch (...) {
      line = result_line(id, call_result({"内部错误", true}));
    }
    writer_.write_line(line);
  }

  const api::ApiClient& api_;
  LineReader reader_;
  LineWriter writer_;
  CallTracker calls_;
};

}  // namespace

std::string initialize_result(const json::Value& params) {
  std::string_view version = ServerIdentity::protocol_version;
  if (params.is_object()) {
    auto requested = params.find("protocolVersion");
    if (requested != params.end() && requested->is_string() &&
        requested->get_ref<const std::string&>() < ServerIdentity::protocol_version) {
      version = requested->get_ref<const std::string&>();
    }
  }
  std::string out = R"({"protocolVersion":)";
  json::write_string(out, version);
  out += R"(,"capabilities":{"tools":{}},"serverInfo":{"name":)";
  json::write_string(out, ServerIdentity::name);
  out += R"(,"version":)";
  json::write_string(out, ServerIdentity::version);
  out += R"(},"instructions":)";
  json::write_string(out, ServerIdentity::instructions);
  out += '}';
  return out;
}

std::string tools_list_result() {
  std::vector<const tools::Tool*> sorted;
  for (const auto& t : tools::all_tools()) sorted.push_back(&t);
  std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->name < b->name; });
  std::string out = R"({"tools":[)";
  bool first = true;
  for (const auto* t : sorted) {
    if (!first) out += ',';
    first = false;
    out += R"({"name":)";
    json::write_string(out, t->name);
    out += R"(,"description":)";
    json::write_string(out, t->description);
    out += R"(,"inputSchema":)";
    out += t->schema();
    out += '}';
  }
  out += "]}";
  return out;
}

std::optional<std::string> serve(const api::ApiClient& api, int in_fd, int out_fd) {
  Service service(api, in_fd, out_fd);
  return service.run();
}

}  // namespace qel::mcp
