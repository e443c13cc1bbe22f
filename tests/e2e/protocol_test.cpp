// The MCP conversation itself: handshake, identity, defaults, dispatch
// errors, and lines that must never wedge or crash the server.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>

#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"

namespace {

using qeltest::McpClient;
using qeltest::MockPlatform;
using qeltest::ServerProcess;

constexpr const char* kInstructions =
    "QEL MCP Server — 在命令行中通过 MCP 协议管理 QEL 平台资源（Issue / PR / 仓库 / 构建等）";

class Protocol : public ::testing::Test {
 protected:
  MockPlatform mock;
  McpClient client{ServerProcess::for_mock(mock)};
};

TEST_F(Protocol, InitializeAnswersIdentityAndNegotiatesTheVersion) {
  struct Case {
    const char* requested;
    const char* answered;
  } cases[] = {{"2025-11-25", "2025-11-25"}, {"2024-11-05", "2024-11-05"}, {"2099-01-01", "2025-11-25"}};
  for (const auto& c : cases) {
    McpClient fresh(ServerProcess::for_mock(mock));
    std::string line = fresh.process().read_line(0).value_or("");  // nothing before we speak
    EXPECT_EQ(line, "");
    fresh.process().send(std::string(R"({"jsonrpc":"2.0","id":7,"method":"initialize","params":{"protocolVersion":")") +
                         c.requested + R"(","capabilities":{},"clientInfo":{"name":"t","version":"1"}}})");
    auto answer = fresh.process().read_line();
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, std::string(R"({"jsonrpc":"2.0","id":7,"result":{"protocolVersion":")") + c.answered +
                           R"(","capabilities":{"tools":{}},"serverInfo":{"name":"qelkit-mcp","version":"1.0.0"},)"
                           R"("instructions":")" + kInstructions + R"("}})");
  }
}

TEST_F(Protocol, DefaultAnswersForMethodsWithoutTools) {
  client.initialize();
  struct Case {
    const char* method;
    const char* params;
    const char* expected_tail;
  } cases[] = {
      {"ping", "", R"("result":{}})"},
      {"prompts/list", "{}", R"("result":{"prompts":[]}})"},
      {"resources/list", "{}", R"("result":{"resources":[]}})"},
      {"resources/templates/list", "{}", R"("result":{"resourceTemplates":[]}})"},
      {"completion/complete", R"({"ref":{"type":"ref/prompt","name":"x"},"argument":{"name":"a","value":""}})",
       R"("result":{"completion":{"values":[]}}})"},
      {"logging/setLevel", R"({"level":"info"})", R"("error":{"code":-32601,"message":"logging/setLevel"}})"},
      {"resources/read", R"({"uri":"x"})", R"("error":{"code":-32601,"message":"resources/read"}})"},
      {"tasks/list", "{}", R"("error":{"code":-32601,"message":"tasks/list"}})"},
      {"no/such/method", "", R"("error":{"code":-32601,"message":"no/such/method"}})"},
  };
  for (const auto& c : cases) {
    std::string line = client.request_raw(c.method, c.params);
    EXPECT_TRUE(line.ends_with(c.expected_tail)) << c.method << ": " << line;
    EXPECT_TRUE(line.starts_with(R"({"jsonrpc":"2.0","id":)")) << line;
  }
}

TEST_F(Protocol, ToolListIsSortedCompleteAndStable) {
  client.initialize();
  std::string first = client.request_raw("tools/list", "{}");
  std::string second = client.request_raw("tools/list", "{}");
  auto strip_id = [](const std::string& s) { return s.substr(s.find(",\"result\"")); };
  EXPECT_EQ(strip_id(first), strip_id(second));
  auto tools = nlohmann::json::parse(first)["result"]["tools"];
  ASSERT_EQ(tools.size(), 40u);
  EXPECT_EQ(tools.front()["name"], "qel_add_issue_labels");
  EXPECT_EQ(tools.back()["name"], "qel_update_pull");
  for (std::size_t i = 0; i < tools.size(); ++i) {
    EXPECT_EQ(tools[i].size(), 3u);
    if (i) {
      EXPECT_LT(tools[i - 1]["name"].get<std::string>(), tools[i]["name"].get<std::string>());
    }
  }
  EXPECT_NE(first.find(R"({"name":"qel_get_repository","description":"获取指定仓库的详细信息","inputSchema":{"$schema":"https://json-schema.org/draft/2020-12/schema","properties":{"repo":{"description":"仓库路径","type":"string"}},"required":["repo"],"title":"GetRepositoryInput","type":"object"}})"),
            std::string::npos);
  EXPECT_NE(first.find(R"("properties":{"desc":{"description":"是否倒序","type":"boolean"},"filter_type":{"description":"仓库类型：private / public / secret","type":["string","null"]},"order_by":{"description":"排序：`created_at` / `last_updated_at` / stars","type":["string","null"]},"page":{"description":"页码","format":"int64","type":["integer","null"]},)"),
            std::string::npos);
}

TEST_F(Protocol, ToolCallDispatchErrors) {
  client.initialize();
  struct Case {
    const char* params;
    const char* expected_error;
  } cases[] = {
      {R"({"name":"qel_nope","arguments":{}})", R"({"code":-32602,"message":"tool not found"})"},
      {R"({"name":"qel_get_repository","arguments":{},"task":{"ttl":1000}})",
       R"({"code":-32602,"message":"Tool does not support task-based invocation"})"},
      {R"({"name":"qel_nope","task":{}})", R"({"code":-32603,"message":"Task processing not implemented"})"},
      {R"({"name":"qel_get_repository"})",
       R"({"code":-32602,"message":"failed to deserialize parameters: missing field `repo`"})"},
      {R"({"name":"qel_get_repository","arguments":{"repo":5}})",
       R"({"code":-32602,"message":"failed to deserialize parameters: invalid type: integer `5`, expected a string at repo"})"},
      {R"({"name":"qel_list_repositories","arguments":{"page":"1"}})",
       R"({"code":-32602,"message":"failed to deserialize parameters: invalid type: string \"1\", expected i64 at page"})"},
      {R"({"name":"qel_list_repositories","arguments":{"desc":"true"}})",
       R"({"code":-32602,"message":"failed to deserialize parameters: invalid type: string \"true\", expected a boolean at desc"})"},
      {R"({"name":"qel_list_repositories","arguments":{"page":1.5}})",
       R"({"code":-32602,"message":"failed to deserialize parameters: invalid type: floating point `1.5`, expected i64 at page"})"},
      {R"({"name":"qel_get_repository","arguments":[]})",
       R"({"code":-32602,"message":"failed to deserialize parameters: invalid type: sequence, expected struct GetRepositoryInput"})"},
  };
  for (const auto& c : cases) {
    std::string line = client.request_raw("tools/call", c.params);
    EXPECT_TRUE(line.ends_with(std::string(R"(,"error":)") + c.expected_error + "}")) << c.params << "\n" << line;
  }
  EXPECT_TRUE(mock.requests().empty());
}

TEST_F(Protocol, ExtraArgumentsAreIgnoredAndFailuresAreResults) {
  client.initialize();
  mock.on("GET", "/g/second", {{.body = "{}"}});
  EXPECT_EQ(client.call_tool("qel_get_repository", R"({"repo":"g/first","repo":"g/second"})").text, "{}");
  EXPECT_EQ(mock.requests().at(0).target, "/g/second");  // a repeated argument keeps its last value
  mock.clear();
  mock.on("GET", "/g/missing", {{.status = 404, .body = "repo not found"}});
  auto r = client.call_tool("qel_get_repository", R"({"repo":"g/missing","unexpected":[1,2]})");
  ASSERT_FALSE(r.error);
  EXPECT_TRUE(r.is_error);
  EXPECT_EQ(r.text, "repo not found");
  mock.on("GET", "/user/repos", {{.body = "[]"}});
  std::string line = client.call_tool_raw("qel_list_repositories", "{}");
  EXPECT_TRUE(line.ends_with(R"(,"result":{"content":[{"type":"text","text":"[]"}],"isError":false}})")) << line;
}

TEST_F(Protocol, BadLinesGetParseErrorsAndTheNextRequestIsAnswered) {
  client.initialize();
  const std::string parse_error = R"({"jsonrpc":"2.0","id":null,"error":{"code":-32700,"message":"Parse error"}})";
  std::vector<std::string> bad = {
      "not json",
      "",
      "\xff\xfe{}",
      R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])",
      R"({"jsonrpc":"2.0","id":{"a":1},"method":"ping"})",
      R"({"jsonrpc":"2.0","id":1.5,"method":"ping"})",
      R"({"jsonrpc":"1.0","id":1,"method":"ping"})",
      std::string(100000, '['),
      std::string(10 * 1024 * 1024, 'x'),
  };
  for (const auto& line : bad) {
    client.process().send(line);
    auto answer = client.next_unclaimed_line(10000);
    ASSERT_TRUE(answer) << line.substr(0, 40);
    EXPECT_EQ(*answer, parse_error) << line.substr(0, 40);
  }
  // An unknown notification gets no answer at all; the next request still works.
  client.send_notification("notifications/whatever", "{}");
  client.process().send(R"({"jsonrpc":"2.0","id":"s-1","method":"ping"})");
  auto pong = client.next_unclaimed_line(10000);
  ASSERT_TRUE(pong);
  EXPECT_EQ(*pong, R"({"jsonrpc":"2.0","id":"s-1","result":{}})");
}

TEST_F(Protocol, OverlappingCallsRunConcurrently) {
  client.initialize();
  mock.on("GET", "/g/slow", {{.body = R"({"name":"slow"})", .delay_ms = 300}});
  auto start = std::chrono::steady_clock::now();
  std::vector<int> ids;
  for (int i = 0; i < 20; ++i) ids.push_back(client.send_tool_call("qel_get_repository", R"({"repo":"g/slow"})"));
  for (int id : ids) {
    auto result = McpClient::parse_tool_result(client.wait_response(id));
    EXPECT_EQ(result.text, R"({"name":"slow"})");
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(3000));  // serial would take 6 s
}

TEST_F(Protocol, AnswersInFlightCallsBeforeExitingOnEndOfInput) {
  client.initialize();
  mock.on("GET", "/g/slow", {{.body = R"({"id":"1"})", .delay_ms = 300}});
  int id = client.send_tool_call("qel_get_repository", R"({"repo":"g/slow"})");
  client.process().close_stdin();
  EXPECT_EQ(McpClient::parse_tool_result(client.wait_response(id)).text, R"({"id":"1"})");
  EXPECT_EQ(client.process().wait_exit(), 0);
}

TEST(Handshake, FailuresEndTheProcessWithTheirText) {
  MockPlatform mock;
  struct Case {
    std::vector<std::string> lines;
    const char* expected_stderr;
  } cases[] = {
      {{}, "Error: connection closed: initialize request\n"},
      {{R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})"}, "Error: expect initialized request, but received: "},
  };
  for (const auto& c : cases) {
    ServerProcess server(ServerProcess::for_mock(mock));
    for (const auto& line : c.lines) server.send(line);
    server.close_stdin();
    EXPECT_EQ(server.wait_exit(), 1);
    EXPECT_NE(server.stderr_text().find(c.expected_stderr), std::string::npos) << server.stderr_text();
    EXPECT_EQ(server.read_line(200), std::nullopt);
  }
}

TEST(Handshake, PingBeforeInitializeIsAnsweredAndEofAfterInitializeExitsCleanly) {
  MockPlatform mock;
  ServerProcess server(ServerProcess::for_mock(mock));
  server.send(R"({"jsonrpc":"2.0","id":1,"method":"ping"})");
  EXPECT_EQ(server.read_line(), R"({"jsonrpc":"2.0","id":1,"result":{}})");
  server.send(R"({"jsonrpc":"2.0","id":2,"method":"initialize","params":{"protocolVersion":"2025-11-25"}})");
  ASSERT_TRUE(server.read_line());
  server.close_stdin();
  EXPECT_EQ(server.wait_exit(), 0);
}

}  // namespace
