// Self-test of the test harness: the mock platform checked with plain
// libcurl, and the process and MCP client helpers checked against small
// shell programs. Nothing here runs the server.

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"

namespace qeltest {
namespace {

using Clock = std::chrono::steady_clock;
using Reply = MockPlatform::Reply;

long long elapsed_ms(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

struct Fetched {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
  std::string headers;  // raw header block, lines as received
};

struct FetchOptions {
  std::string method = "GET";
  std::string body{};
  std::vector<std::string> headers{};
  bool trust_test_ca = true;
};

size_t append_to_string(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

class Easy {
 public:
  Easy() {
    static const bool initialized = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    EXPECT_TRUE(initialized);
    handle_ = curl_easy_init();
  }
  ~Easy() {
    curl_slist_free_all(headers_);
    curl_easy_cleanup(handle_);
  }
  Easy(const Easy&) = delete;
  Easy& operator=(const Easy&) = delete;

  CURL* get() const { return handle_; }

  // Prepares a request; the answer lands in result().
  void prepare(const MockPlatform& mock, const std::string& url, const FetchOptions& options) {
    result_ = {};
    curl_slist_free_all(headers_);
    headers_ = nullptr;
    for (const auto& header : options.headers) headers_ = curl_slist_append(headers_, header.c_str());
    curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, options.method.c_str());
    if (!options.body.empty()) {
      curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, options.body.data());
      curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(options.body.size()));
    }
    curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers_);
    if (options.trust_test_ca) curl_easy_setopt(handle_, CURLOPT_CAINFO, mock.ca_file().c_str());
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle_, CURLOPT_TIMEOUT_MS, 15000L);
    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, append_to_string);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &result_.body);
    curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, append_to_string);
    curl_easy_setopt(handle_, CURLOPT_HEADERDATA, &result_.headers);
  }

  Fetched& result() {
    curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &result_.status);
    return result_;
  }

  Fetched perform(const MockPlatform& mock, const std::string& url, const FetchOptions& options) {
    prepare(mock, url, options);
    result_.code = curl_easy_perform(handle_);
    return result();
  }

 private:
  CURL* handle_ = nullptr;
  curl_slist* headers_ = nullptr;
  Fetched result_;
};

Fetched fetch(const MockPlatform& mock, const std::string& target, const FetchOptions& options = {}) {
  Easy easy;
  return easy.perform(mock, mock.base_url() + target, options);
}

TEST(MockPlatformTest, RecordsRawTargetMethodBodyAndLowerCaseHeaders) {
  MockPlatform mock;
  FetchOptions options{"POST", R"({"a":1})", {"X-Custom-Header: Value", "Content-Type: application/json"}};
  Fetched got = fetch(mock, "/a/b?x=1%2C2&y=%E4%BD%A0", options);
  ASSERT_EQ(got.code, CURLE_OK) << curl_easy_strerror(got.code);
  EXPECT_EQ(got.status, 404);
  EXPECT_EQ(got.body, "mock: no route");

  auto requests = mock.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/a/b?x=1%2C2&y=%E4%BD%A0");
  EXPECT_EQ(request.path(), "/a/b");
  EXPECT_EQ(request.query(), "x=1%2C2&y=%E4%BD%A0");
  EXPECT_EQ(request.body, R"({"a":1})");
  EXPECT_EQ(request.header("x-custom-header"), "Value");
  EXPECT_EQ(request.header("X-CUSTOM-HEADER"), "Value");
  EXPECT_EQ(request.header_count("content-type"), 1u);
  EXPECT_EQ(request.header("host"), "api.localhost:" + std::to_string(mock.port()));
  EXPECT_FALSE(request.has_header("x-absent"));
  for (const auto& [name, value] : request.headers) {
    for (char c : name) EXPECT_FALSE(std::isupper(static_cast<unsigned char>(c))) << name;
    EXPECT_NE(name, "remote_addr") << "header the client never sent";
  }
}

TEST(MockPlatformTest, RoutesMatchTheRawPathAndMethodIgnoringTheQuery) {
  MockPlatform mock;
  mock.on("GET", "/g/r", {{.body = "repo"}});
  mock.on("GET", "/a%2Fb", {{.body = "escaped"}});
  mock.on("POST", "/g/r", {{.status = 201, .body = "created"}});

  struct Case {
    std::string method, target;
    long status;
    std::string body;
  };
  const Case cases[] = {
      {"GET", "/g/r", 200, "repo"},
      {"GET", "/g/r?page=2&state=open", 200, "repo"},
      {"GET", "/a%2Fb", 200, "escaped"},
      {"GET", "/a/b", 404, "mock: no route"},
      {"GET", "/g/R", 404, "mock: no route"},
      {"POST", "/g/r", 201, "created"},
      {"DELETE", "/g/r", 404, "mock: no route"},
  };
  for (const auto& c : cases) {
    Fetched got = fetch(mock, c.target, {.method = c.method});
    ASSERT_EQ(got.code, CURLE_OK) << c.method << " " << c.target;
    EXPECT_EQ(got.status, c.status) << c.method << " " << c.target;
    EXPECT_EQ(got.body, c.body) << c.method << " " << c.target;
  }
}

TEST(MockPlatformTest, BodilessWritesAreAnsweredAtOnceAndRecordedAsSent) {
  MockPlatform mock;
  mock.on_any({{.status = 204, .content_type = ""}});
  for (const std::string method : {"POST", "PUT", "PATCH", "DELETE"}) {
    mock.clear();
    auto start = Clock::now();
    Fetched got = fetch(mock, "/x", {.method = method});
    EXPECT_EQ(got.status, 204) << method;
    EXPECT_LT(elapsed_ms(start), 2000) << method << " waited for a body that never comes";
    ASSERT_EQ(mock.requests().size(), 1u) << method;
    EXPECT_EQ(mock.requests()[0].method, method);
    EXPECT_EQ(mock.requests()[0].body, "");
    EXPECT_FALSE(mock.requests()[0].has_header("content-length")) << method;
  }
}

TEST(MockPlatformTest, ScriptedSequenceIsConsumedInOrderAndTheLastRepeats) {
  MockPlatform mock;
  mock.on("GET", "/x",
          {{.status = 503, .body = "busy"}, {.status = 503, .body = "busy"}, {.status = 200, .body = "ok"}});
  std::vector<long> statuses;
  for (int i = 0; i < 4; ++i) statuses.push_back(fetch(mock, "/x").status);
  EXPECT_EQ(statuses, (std::vector<long>{503, 503, 200, 200}));

  // Scripting the route again starts the new script from its first reply.
  mock.on("GET", "/x", {{.status = 502}, {.status = 204}});
  EXPECT_EQ(fetch(mock, "/x").status, 502);
  EXPECT_EQ(fetch(mock, "/x").status, 204);
}

TEST(MockPlatformTest, CatchAllAnswersWhatNoRouteMatches) {
  MockPlatform mock;
  mock.on("GET", "/known", {{.body = "known"}});
  mock.on_any({{.status = 500, .body = "any"}});
  EXPECT_EQ(fetch(mock, "/known").body, "known");
  EXPECT_EQ(fetch(mock, "/other?q=1", {.method = "PATCH"}).body, "any");
  EXPECT_EQ(fetch(mock, "/other").status, 500);
}

TEST(MockPlatformTest, RepliesCarryScriptedHeadersAndContentType) {
  MockPlatform mock;
  mock.on("GET", "/h",
          {{.status = 403, .body = "denied", .headers = {{"X-Trace-Id", "abc123"}}, .content_type = "text/plain"}});
  mock.on("GET", "/ct", {{.body = "{}", .headers = {{"Content-Type", "application/x-other"}}}});
  Fetched got = fetch(mock, "/h");
  EXPECT_EQ(got.status, 403);
  EXPECT_EQ(got.body, "denied");
  EXPECT_NE(got.headers.find("X-Trace-Id: abc123\r\n"), std::string::npos) << got.headers;
  EXPECT_NE(got.headers.find("Content-Type: text/plain\r\n"), std::string::npos) << got.headers;

  got = fetch(mock, "/ct");
  EXPECT_NE(got.headers.find("Content-Type: application/x-other\r\n"), std::string::npos);
  EXPECT_EQ(got.headers.find("application/json"), std::string::npos) << got.headers;
}

TEST(MockPlatformTest, LargeBodiesTravelBothWays) {
  MockPlatform mock;
  std::string big_reply(5 * 1024 * 1024, 'r');
  std::string big_request(5 * 1024 * 1024, 'q');
  mock.on("PUT", "/big", {{.body = big_reply}});
  Fetched got = fetch(mock, "/big", {.method = "PUT", .body = big_request});
  ASSERT_EQ(got.code, CURLE_OK) << curl_easy_strerror(got.code);
  EXPECT_EQ(got.body.size(), big_reply.size());
  EXPECT_TRUE(got.body == big_reply);
  ASSERT_EQ(mock.requests().size(), 1u);
  EXPECT_TRUE(mock.requests()[0].body == big_request);
  // libcurl's default type for a raw body, kept as sent.
  EXPECT_EQ(mock.requests()[0].header("content-type"), "application/x-www-form-urlencoded");
}

// Runs the prepared handles side by side until all are done or `limit_ms`
// passes; returns how many finished without a transport error.
int perform_together(const std::vector<std::unique_ptr<Easy>>& handles, int limit_ms) {
  CURLM* multi = curl_multi_init();
  for (const auto& handle : handles) curl_multi_add_handle(multi, handle->get());
  auto start = Clock::now();
  int running = static_cast<int>(handles.size());
  while (running > 0 && elapsed_ms(start) < limit_ms) {
    curl_multi_perform(multi, &running);
    curl_multi_poll(multi, nullptr, 0, 50, nullptr);
  }
  int succeeded = 0;
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
    if (message->msg == CURLMSG_DONE && message->data.result == CURLE_OK) ++succeeded;
  }
  for (const auto& handle : handles) curl_multi_remove_handle(multi, handle->get());
  curl_multi_cleanup(multi);
  return succeeded;
}

std::vector<std::unique_ptr<Easy>> prepared_handles(const MockPlatform& mock, int count, const std::string& target) {
  std::vector<std::unique_ptr<Easy>> handles;
  for (int i = 0; i < count; ++i) {
    handles.push_back(std::make_unique<Easy>());
    handles.back()->prepare(mock, mock.base_url() + target, {});
  }
  return handles;
}

TEST(MockPlatformTest, DelayedRepliesComeAfterTheirDelayAndOverlap) {
  MockPlatform mock;
  mock.on("GET", "/slow", {{.body = "late", .delay_ms = 300}});
  auto handles = prepared_handles(mock, 50, "/slow");
  auto start = Clock::now();
  EXPECT_EQ(perform_together(handles, 15000), 50);
  auto took = elapsed_ms(start);
  for (auto& handle : handles) EXPECT_EQ(handle->result().body, "late");
  EXPECT_GE(took, 300);
  EXPECT_LT(took, 10000) << "one after the other they take 15 s";
}

TEST(MockPlatformTest, FiftyDelayedRequestsAreInFlightAtOnce) {
  // Every request is recorded on arrival, before its delay: if the mock
  // served fewer than fifty connections at a time, the rest would not
  // arrive before the first delays (20 s) ran out.
  auto mock = std::make_unique<MockPlatform>();
  mock->on("GET", "/slow", {{.delay_ms = 20000}});
  auto handles = prepared_handles(*mock, 50, "/slow");
  std::thread client([&handles] { perform_together(handles, 30000); });
  EXPECT_TRUE(mock->wait_for_requests(50, 10000)) << mock->requests().size() << " arrived";
  // Stopping the mock cuts the delays short.
  auto start = Clock::now();
  mock.reset();
  client.join();
  EXPECT_LT(elapsed_ms(start), 5000);
}

TEST(MockPlatformTest, DroppedConnectionGetsNoAnswer) {
  MockPlatform mock;
  mock.on("GET", "/drop", {{.drop = true}, {.body = "second"}});
  Fetched got = fetch(mock, "/drop");
  EXPECT_NE(got.code, CURLE_OK);
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(fetch(mock, "/drop").body, "second");
  EXPECT_EQ(mock.requests().size(), 2u);
}

TEST(MockPlatformTest, CertificateVerifiesAgainstTheTestCa) {
  MockPlatform mock;
  mock.on("GET", "/", {{.body = "hello"}});
  const std::string port = std::to_string(mock.port());
  for (const std::string host : {"api.localhost", "127.0.0.1"}) {
    Easy easy;
    Fetched got = easy.perform(mock, "https://" + host + ":" + port + "/", {});
    EXPECT_EQ(got.code, CURLE_OK) << host << ": " << curl_easy_strerror(got.code);
    EXPECT_EQ(got.body, "hello") << host;
  }
  // Verification is really on: without the test CA the certificate fails.
  Fetched untrusted = fetch(mock, "/", {.trust_test_ca = false});
  EXPECT_NE(untrusted.code, CURLE_OK);
}

TEST(MockPlatformTest, StopsPromptlyWithDelayedRequestsAndIdleConnections) {
  auto mock = std::make_unique<MockPlatform>();
  mock->on("GET", "/slow", {{.delay_ms = 30000}});
  // A kept-alive connection that sits idle while the mock goes away.
  Easy idle;
  ASSERT_EQ(idle.perform(*mock, mock->base_url() + "/fast", {}).code, CURLE_OK);

  std::thread in_flight([&mock] { fetch(*mock, "/slow"); });
  ASSERT_TRUE(mock->wait_for_requests(2, 5000));
  auto start = Clock::now();
  mock.reset();
  EXPECT_LT(elapsed_ms(start), 2000);
  in_flight.join();
}

TEST(MockPlatformTest, WaitForRequestsAndClear) {
  MockPlatform mock;
  EXPECT_FALSE(mock.wait_for_requests(1, 50));
  fetch(mock, "/one");
  EXPECT_TRUE(mock.wait_for_requests(1, 50));
  mock.clear();
  EXPECT_TRUE(mock.requests().empty());
  fetch(mock, "/two");
  ASSERT_EQ(mock.requests().size(), 1u);
  EXPECT_EQ(mock.requests()[0].target, "/two");
}

ServerProcess::Options shell(std::string script) {
  ServerProcess::Options options;
  options.binary = "/bin/sh";
  options.args = {"-c", std::move(script)};
  return options;
}

TEST(ServerProcessTest, PipesLinesBothWaysAndReportsTheExitStatus) {
  ServerProcess process(shell("cat; echo bye >&2; exit 3"));
  process.send("first");
  process.send_raw("par");
  process.send_raw("tial\nlast");
  EXPECT_EQ(process.read_line(), "first");
  EXPECT_EQ(process.read_line(), "partial");
  EXPECT_EQ(process.read_line(200), std::nullopt) << "a line without its newline is not complete";
  process.close_stdin();
  EXPECT_EQ(process.wait_exit(), 3);
  EXPECT_EQ(process.read_line(200), std::nullopt);
  EXPECT_EQ(process.stderr_text(), "bye\n");
}

TEST(ServerProcessTest, CleanEnvironmentHoldsOnlyPathAndTheGivenEntries) {
  MockPlatform mock;
  ServerProcess::Options options = ServerProcess::for_mock(mock, "tok");
  EXPECT_EQ(options.args, (std::vector<std::string>{"--domain", "localhost:" + std::to_string(mock.port())}));
  options.binary = "/usr/bin/env";
  options.args.clear();
  ServerProcess process(options);
  std::set<std::string> names;
  std::set<std::string> lines;
  while (auto line = process.read_line()) {
    std::string name = line->substr(0, line->find('='));
    if (name.find("SAN_OPTIONS") == std::string::npos) names.insert(name);
    lines.insert(*line);
  }
  EXPECT_EQ(process.wait_exit(), 0);
  EXPECT_EQ(names, (std::set<std::string>{"HOME", "PATH", "QEL_TOKEN", "SSL_CERT_FILE"}));
  EXPECT_TRUE(lines.count("HOME=" + process.home_dir()));
  EXPECT_TRUE(lines.count("QEL_TOKEN=tok"));
  EXPECT_TRUE(lines.count("SSL_CERT_FILE=" + mock.ca_file()));
}

TEST(ServerProcessTest, SignalsAreReportedAndARunningChildIsKilledOnDestruction) {
  ServerProcess killed(shell("kill -TERM $$"));
  EXPECT_EQ(killed.wait_exit(), 128 + 15);

  auto start = Clock::now();
  {
    ServerProcess sleeper(shell("exec sleep 60"));
    EXPECT_EQ(sleeper.wait_exit(50), std::nullopt);
  }
  EXPECT_LT(elapsed_ms(start), 2000);
}

TEST(McpClientTest, MatchesResponsesToRequestsWhateverTheirOrder) {
  // Answers the two requests after initialize in reverse order, with a
  // notification in between.
  McpClient client(shell(R"(
    read -r init; echo '{"jsonrpc":"2.0","id":0,"result":{"protocolVersion":"2025-11-25"}}'
    read -r initialized; read -r first; read -r second
    echo '{"jsonrpc":"2.0","id":2,"result":{"n":2}}'
    echo '{"jsonrpc":"2.0","method":"notifications/message"}'
    echo '{"jsonrpc":"2.0","id":1,"error":{"code":-32602,"message":"tool not found"}}'
    echo "$first" >&2; cat >/dev/null)"));
  EXPECT_EQ(client.initialize()["result"]["protocolVersion"], "2025-11-25");
  int first = client.send_tool_call("qel_nope", R"({"a":1})");
  int second = client.send_request("ping");
  EXPECT_EQ(client.wait_response(second), R"({"jsonrpc":"2.0","id":2,"result":{"n":2}})");
  ToolResult result = McpClient::parse_tool_result(client.wait_response(first));
  ASSERT_TRUE(result.error.has_value());
  EXPECT_EQ(result.error->code, -32602);
  EXPECT_EQ(result.error->message, "tool not found");
  EXPECT_EQ(client.next_unclaimed_line(1000), R"({"jsonrpc":"2.0","method":"notifications/message"})");
  client.process().close_stdin();
  EXPECT_EQ(client.process().wait_exit(), 0);
  EXPECT_EQ(client.process().stderr_text(),
            R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"qel_nope","arguments":{"a":1}}})"
            "\n");
}

}  // namespace
}  // namespace qeltest
