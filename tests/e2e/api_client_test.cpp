// What every platform request has in common: headers, retries of GETs,
// status mapping with trace ids, and the texts of the error kinds.
#include <gtest/gtest.h>

#include <regex>

#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"

namespace {

using qeltest::McpClient;
using qeltest::MockPlatform;
using qeltest::ServerProcess;
using Reply = MockPlatform::Reply;

constexpr const char* kAuthText = "认证失败：QEL_TOKEN 缺失或无效。请设置：export QEL_TOKEN=\"your_token\"";

class ApiClient : public ::testing::Test {
 protected:
  MockPlatform mock;
};

TEST_F(ApiClient, SendsAcceptAndBearerHeadersOnly) {
  McpClient client(ServerProcess::for_mock(mock, "tok-123"));
  client.initialize();
  mock.on("GET", "/g/r", {{.body = "{}"}});
  client.call_tool("qel_get_repository", R"({"repo":"g/r"})");
  auto req = mock.requests().at(0);
  EXPECT_EQ(req.header("accept"), "application/vnd.qel.api+json");
  EXPECT_EQ(req.header("authorization"), "Bearer tok-123");
  EXPECT_EQ(req.header_count("authorization"), 1u);
  EXPECT_FALSE(req.has_header("user-agent"));
  EXPECT_FALSE(req.has_header("content-type"));
}

TEST_F(ApiClient, WithoutTokenNoAuthorizationIsSentAnd401ExplainsWhatToDo) {
  McpClient client(ServerProcess::for_mock(mock, ""));
  client.initialize();
  mock.on("GET", "/g/r", {{.status = 401, .body = "ignored", .headers = {{"x-trace-id", "abc"}}}});
  auto result = client.call_tool("qel_get_repository", R"({"repo":"g/r"})");
  EXPECT_TRUE(result.is_error);
  EXPECT_EQ(result.text, std::string(kAuthText) + "\ntrace_id: abc");
  EXPECT_FALSE(mock.requests().at(0).has_header("authorization"));
}

TEST_F(ApiClient, GetIsRetriedOnServerErrorsWithFixedDelays) {
  McpClient client(ServerProcess::for_mock(mock));
  client.initialize();
  mock.on("GET", "/g/r", {{.status = 503, .body = "busy"}, {.status = 503}, {.status = 502}, {.body = R"({"id":"1"})"}});
  auto result = client.call_tool("qel_get_repository", R"({"repo":"g/r"})");
  EXPECT_EQ(result.text, R"({"id":"1"})");
  EXPECT_EQ(mock.requests().size(), 4u);
  std::string log = client.process().stderr_text();
  std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z  WARN serve_inner: qel_api::client: 请求失败，(\d+)ms 后第 (\d) 次重试\.\.\.)");
  std::vector<std::string> seen;
  for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
    seen.push_back((*it)[1].str() + "/" + (*it)[2].str());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"100/1", "500/2", "1000/3"})) << log;
}

TEST_F(ApiClient, StatusMappingAndRetryLimits) {
  McpClient client(ServerProcess::for_mock(mock));
  client.initialize();
  struct Case {
    std::vector<Reply> replies;
    const char* tool;
    const char* args;
    std::string text;
    std::size_t requests;
  } cases[] = {
      {{{.status = 503, .body = "down"}}, "qel_get_repository", R"({"repo":"g/r"})", "API 请求失败 (HTTP 503): down", 4},
      {{{.status = 429, .body = "slow down"}}, "qel_get_repository", R"({"repo":"g/r"})",
       "API 请求失败 (HTTP 429): slow down", 1},
      {{{.status = 404, .body = "no such repo", .headers = {{"x-trace-id", "t-1"}}}}, "qel_get_repository",
       R"({"repo":"g/r"})", "no such repo\ntrace_id: t-1", 1},
      {{{.status = 403, .body = "forbidden", .headers = {{"x-trace-id", "caf\xc3\xa9"}}}}, "qel_get_repository",
       R"({"repo":"g/r"})", "API 请求失败 (HTTP 403): forbidden", 1},
      {{{.status = 500, .body = "bad \xff byte"}}, "qel_create_repository", R"({"name":"r","group":"g"})",
       "API 请求失败 (HTTP 500): bad \xEF\xBF\xBD byte", 1},
      {{{.status = 302, .headers = {{"location", "/elsewhere"}}}, {.status = 200}}, "qel_get_repository",
       R"({"repo":"g/r"})", "JSON 解析错误：invalid type: null, expected struct Repos4User", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    mock.clear();
    mock.on_any(c.replies);
    auto result = client.call_tool(c.tool, c.args);
    EXPECT_TRUE(result.is_error);
    EXPECT_EQ(result.text, c.text);
    EXPECT_EQ(mock.requests().size(), c.requests);
  }
}

TEST_F(ApiClient, RedirectToAnotherHostDropsTheToken) {
  McpClient client(ServerProcess::for_mock(mock, "tok-123"));
  client.initialize();
  std::string elsewhere = "https://127.0.0.1:" + std::to_string(mock.port()) + "/landing";
  mock.on("GET", "/g/r", {{.status = 302, .headers = {{"location", elsewhere}}}});
  mock.on("GET", "/landing", {{.body = R"({"name":"moved"})"}});
  EXPECT_EQ(client.call_tool("qel_get_repository", R"({"repo":"g/r"})").text, R"({"name":"moved"})");
  auto requests = mock.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].header("authorization"), "Bearer tok-123");
  EXPECT_FALSE(requests[1].has_header("authorization"));
}

TEST_F(ApiClient, RedirectedPostContinuesAsGetWithoutBody) {
  McpClient client(ServerProcess::for_mock(mock));
  client.initialize();
  mock.on("POST", "/g/-/repos", {{.status = 303, .headers = {{"location", "/g/r"}}}});
  mock.on("GET", "/g/r", {{.body = "{}"}});
  EXPECT_EQ(client.call_tool("qel_create_repository", R"({"name":"r","group":"g"})").text, "Repository created");
  auto requests = mock.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].body, "");
}

TEST_F(ApiClient, AnswerWhoseBodyBreaksOffKeepsItsStatus) {
  McpClient client(ServerProcess::for_mock(mock));
  client.initialize();
  struct Case {
    const char* tool;
    const char* args;
    int status;
    const char* text_prefix;
    std::size_t requests;
  } cases[] = {
      // A 2xx answer without its whole body cannot be decoded, and is not retried.
      {"qel_get_repository", R"({"repo":"g/r"})", 200, "网络错误：", 1},
      {"qel_get_repository", R"({"repo":"g/r"})", 404, "", 1},
      {"qel_get_repository", R"({"repo":"g/r"})", 403, "API 请求失败 (HTTP 403): ", 1},
      {"qel_get_repository", R"({"repo":"g/r"})", 401, "认证失败：QEL_TOKEN 缺失或无效", 1},
      {"qel_create_repository", R"({"name":"r","group":"g"})", 404, "", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.tool) + " " + std::to_string(c.status));
    mock.clear();
    mock.on_any({{.status = c.status, .body = "partial", .truncate = true}});
    auto result = client.call_tool(c.tool, c.args);
    EXPECT_TRUE(result.is_error);
    if (*c.text_prefix) {
      EXPECT_TRUE(result.text.starts_with(c.text_prefix)) << result.text;
    } else {
      EXPECT_EQ(result.text, "");  // the broken body reads as the empty text
    }
    if (c.status == 403) {
      EXPECT_EQ(result.text, c.text_prefix);
    }
    EXPECT_EQ(mock.requests().size(), c.requests);
  }
}

TEST_F(ApiClient, TransportFailuresAreNetworkErrors) {
  McpClient client(ServerProcess::for_mock(mock));
  client.initialize();
  mock.on("GET", "/g/r", {{.drop = true}});
  auto result = client.call_tool("qel_get_repository", R"({"repo":"g/r"})");
  EXPECT_TRUE(result.is_error);
  EXPECT_TRUE(result.text.starts_with("网络错误：")) << result.text;
  EXPECT_GE(mock.requests().size(), 4u);
}

TEST(ApiClientTls, UntrustedCertificateIsANetworkErrorAndTheTokenNeverShows) {
  MockPlatform mock;
  auto options = ServerProcess::for_mock(mock, "secret-token-value");
  options.env.erase("SSL_CERT_FILE");
  McpClient client(options);
  client.initialize();
  auto result = client.call_tool("qel_create_repository", R"({"name":"r","group":"g"})");
  EXPECT_TRUE(result.is_error);
  EXPECT_TRUE(result.text.starts_with("网络错误：")) << result.text;
  EXPECT_TRUE(mock.requests().empty());
  client.process().close_stdin();
  client.process().wait_exit();
  EXPECT_EQ(client.process().stderr_text().find("secret-token-value"), std::string::npos);
  EXPECT_EQ(result.text.find("secret-token-value"), std::string::npos);
}

}  // namespace
