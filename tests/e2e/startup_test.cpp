// Process entry: command line, the start-up log line, the domain's sources,
// and how start-up failures end the process.
#include <gtest/gtest.h>

#include <regex>

#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"

namespace {

using qeltest::McpClient;
using qeltest::MockPlatform;
using qeltest::ServerProcess;

ServerProcess::Options bare(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
  ServerProcess::Options options;
  options.args = std::move(args);
  options.home = std::make_shared<qeltest::TempDir>();
  env["HOME"] = options.home->path();
  options.env = std::move(env);
  return options;
}

std::string all_stdout(ServerProcess& server) {
  std::string out;
  while (auto line = server.read_line(2000)) out += *line + "\n";
  return out;
}

TEST(Startup, VersionHelpAndUsageErrors) {
  {
    ServerProcess server(bare({"--version"}));
    EXPECT_EQ(all_stdout(server), "qelkit-mcp 1.0.0\n");
    EXPECT_EQ(server.wait_exit(), 0);
  }
  {
    ServerProcess server(bare({"-V"}));
    EXPECT_EQ(all_stdout(server), "qelkit-mcp 1.0.0\n");
    EXPECT_EQ(server.wait_exit(), 0);
  }
  {
    ServerProcess server(bare({"--help"}));
    std::string help = all_stdout(server);
    EXPECT_EQ(server.wait_exit(), 0);
    EXPECT_NE(help.find("QEL MCP Server"), std::string::npos) << help;
    EXPECT_NE(help.find("--domain"), std::string::npos) << help;
    EXPECT_NE(help.find("QEL domain [default: qel.dev]"), std::string::npos) << help;
  }
  for (auto args : {std::vector<std::string>{"--bogus"}, {"--domain"}, {"extra"}, {"-d", "x"}}) {
    ServerProcess server(bare(args));
    EXPECT_EQ(server.wait_exit(), 2) << args[0];
    EXPECT_EQ(server.read_line(200), std::nullopt);
    EXPECT_FALSE(server.stderr_text().empty());
  }
}

TEST(Startup, LogsOneStartLineWithTheResolvedDomain) {
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    const char* domain;
  } cases[] = {
      {{}, {}, "qel.dev"},
      {{}, {{"QEL_DOMAIN", "env.example"}}, "env.example"},
      {{"--domain", "cli.example"}, {{"QEL_DOMAIN", "env.example"}}, "cli.example"},
      {{"--domain=cli.example"}, {}, "cli.example"},
  };
  for (const auto& c : cases) {
    ServerProcess server(bare(c.args, c.env));
    server.close_stdin();
    server.wait_exit();
    std::regex expected(std::string(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z  INFO qelkit_mcp: qelkit-mcp starting \(domain=)") +
                        c.domain + R"(\)\n)");
    EXPECT_TRUE(std::regex_search(server.stderr_text(), expected)) << server.stderr_text();
  }
}

TEST(Startup, TokenThatCannotBeAHeaderEndsStartupWithoutShowingIt) {
  for (std::string token : {std::string("abc\ndef"), std::string("abc\rdef"), std::string("abc\x7f" "def")}) {
    ServerProcess server(bare({}, {{"QEL_TOKEN", token}}));
    EXPECT_EQ(server.wait_exit(), 1);
    std::string err = server.stderr_text();
    EXPECT_NE(err.find("Error: 认证失败：failed to parse header value\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("abc"), std::string::npos);
    EXPECT_EQ(server.read_line(200), std::nullopt);
  }
}

TEST(Startup, DomainReachesTheApiBaseAddress) {
  MockPlatform mock;
  auto options = ServerProcess::for_mock(mock);
  options.args.clear();
  options.env["QEL_DOMAIN"] = mock.domain();
  McpClient client(options);
  client.initialize();
  mock.on("GET", "/g/r", {{.body = R"({"name":"r"})"}});
  EXPECT_EQ(client.call_tool("qel_get_repository", R"({"repo":"g/r"})").text, R"({"name":"r"})");
}

}  // namespace
