// Inputs and answers of hostile shape: the server answers every one of them
// and keeps its output intact.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"

namespace {

using qeltest::McpClient;
using qeltest::MockPlatform;
using qeltest::ServerProcess;

TEST(Robustness, AnswersOfAnyShapeBecomeToolErrors) {
  MockPlatform mock;
  McpClient client(ServerProcess::for_mock(mock));
  client.initialize();
  struct Case {
    std::string body;
    std::string text_prefix;
  } cases[] = {
      {R"({"tags":)" + std::string(100000, '[') + std::string(100000, ']') + "}",
       "JSON 解析错误：recursion limit exceeded"},
      {"{\"name\":\"\xff\"}", "JSON 解析错误："},
      {R"({"name":)", "JSON 解析错误："},
      {R"([1,2,3])", "JSON 解析错误：invalid type: sequence, expected struct Repos4User"},
      {R"({"star_count":1e400})", "JSON 解析错误："},
      {R"({"name":"a","name":"a"})", "JSON 解析错误：duplicate field `name`"},
  };
  for (const auto& c : cases) {
    mock.on("GET", "/g/r", {{.body = c.body}});
    auto result = client.call_tool("qel_get_repository", R"({"repo":"g/r"})");
    EXPECT_TRUE(result.is_error);
    EXPECT_TRUE(result.text.starts_with(c.text_prefix)) << result.text.substr(0, 200);
  }
  // A large answer is decoded and returned whole.
  std::string big = "[";
  for (int i = 0; i < 20000; ++i) big += std::string(i ? "," : "") + R"({"name":"repo-)" + std::to_string(i) + R"("})";
  big += "]";
  mock.on("GET", "/user/repos", {{.body = big}});
  auto result = client.call_tool("qel_list_repositories", "{}");
  EXPECT_FALSE(result.is_error);
  EXPECT_EQ(result.text, big);
}

TEST(Robustness, SlowReaderStillGetsEveryLineWhole) {
  MockPlatform mock;
  McpClient client(ServerProcess::for_mock(mock));
  client.initialize();
  std::string body = R"({"description":")" + std::string(200000, 'x') + R"("})";
  mock.on("GET", "/g/r", {{.body = body}});
  std::vector<int> ids;
  for (int i = 0; i < 40; ++i) ids.push_back(client.send_tool_call("qel_get_repository", R"({"repo":"g/r"})"));
  // Nobody reads for a while: the pipe fills up and writers have to wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  for (int id : ids) {
    auto line = client.wait_response(id);
    auto parsed = nlohmann::json::parse(line);
    EXPECT_EQ(parsed["result"]["content"][0]["text"], body);
  }
}

}  // namespace
