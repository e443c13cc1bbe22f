// Where the running server takes its domain and its access token from: the
// command line, the environment, $HOME/.qel/config.toml and the Secret
// Service, each checked through the real binary: the start line on stderr
// and the authorization header that reaches the mock platform.
#include <gtest/gtest.h>

#include "on_path.hpp"
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/keychain.hpp"
#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"
#include "temp_dir.hpp"

namespace {

using qeltest::McpClient;
using qeltest::MockPlatform;
using qeltest::ServerProcess;
using qeltest::TempDir;
using Clock = std::chrono::steady_clock;

constexpr const char* kConfigPath = ".qel/config.toml";
constexpr const char* kAuthFailure = "认证失败：QEL_TOKEN 缺失或无效。请设置：export QEL_TOKEN=\"your_token\"";
constexpr const char* kRepoArgs = R"({"repo":"g/r"})";

// `text` with every "{domain}" replaced by `domain`.
std::string with_domain(std::string text, const std::string& domain) {
  const std::string placeholder = "{domain}";
  for (auto at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + domain.size())) {
    text.replace(at, placeholder.size(), domain);
  }
  return text;
}

std::map<std::string, std::string> with_domain(const std::map<std::string, std::string>& env,
                                               const std::string& domain) {
  std::map<std::string, std::string> out;
  for (const auto& [name, value] : env) out[with_domain(name, domain)] = with_domain(value, domain);
  return out;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Stderr with the time stamp taken off the front of every line that has
// one, so whole logs can be compared exactly.
std::string without_timestamps(const std::string& text) {
  static const std::regex stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)");
  std::istringstream lines(text);
  std::string out;
  for (std::string line; std::getline(lines, line);) out += std::regex_replace(line, stamp, "") + "\n";
  return out;
}

std::string start_line(const std::string& domain) {
  return "  INFO qelkit_mcp: qelkit-mcp starting (domain=" + domain + ")\n";
}

// Everything on stderr once the start line is complete (or once the process
// has ended without one). Until it reads a request the server writes nothing
// more, so this is all that start-up had to say.
std::string stderr_through_start_line(ServerProcess& server, int timeout_ms = 10000) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < deadline) {
    const std::string text = server.stderr_text();
    const auto at = text.find("qelkit-mcp starting");
    if (at != std::string::npos && text.find('\n', at) != std::string::npos) return text;
    if (server.wait_exit(20)) return server.stderr_text();
  }
  return server.stderr_text();
}

// A server with a fresh HOME and a clean environment (no QEL_TOKEN,
// QEL_DOMAIN or session bus from whoever runs the tests).
ServerProcess::Options plain_server(std::vector<std::string> args, std::map<std::string, std::string> env) {
  ServerProcess::Options options;
  options.args = std::move(args);
  options.home = std::make_shared<TempDir>("qeltest-home");
  options.env = std::move(env);
  options.env["HOME"] = options.home->path();
  return options;
}

// A server pointed at the mock (--domain unless `domain_from_file`), with no
// QEL_TOKEN unless `env` brings one, and `config` (if any) as its file.
ServerProcess::Options mock_server(const MockPlatform& mock, const std::string& config,
                                   const std::map<std::string, std::string>& env = {}, bool domain_from_file = false) {
  auto options = ServerProcess::for_mock(mock, "");
  if (domain_from_file) options.args.clear();
  if (!config.empty()) options.home->write_file(kConfigPath, with_domain(config, mock.domain()));
  for (const auto& [name, value] : with_domain(env, mock.domain())) options.env[name] = value;
  return options;
}

struct Exchange {
  qeltest::ToolResult result;
  std::vector<MockPlatform::RecordedRequest> requests;
  std::string stderr_text;
};

// One qel_get_repository call through a server started with `options`.
Exchange get_repository(MockPlatform& mock, ServerProcess::Options options) {
  mock.clear();
  McpClient client(std::move(options));
  client.initialize();
  Exchange exchange;
  exchange.result = client.call_tool("qel_get_repository", kRepoArgs);
  exchange.requests = mock.requests();
  exchange.stderr_text = client.process().stderr_text();
  return exchange;
}

// The authorization header of the single request an exchange sent, or
// nullopt when the request had none.
std::optional<std::string> authorization_of(const Exchange& exchange) {
  if (exchange.requests.size() != 1) {
    ADD_FAILURE() << exchange.requests.size() << " requests reached the platform\n" << exchange.stderr_text;
    return std::nullopt;
  }
  const auto& request = exchange.requests[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, "/g/r");
  EXPECT_LE(request.header_count("authorization"), 1u);
  if (!request.has_header("authorization")) return std::nullopt;
  return request.header("authorization");
}

// ---- the domain ---------------------------------------------------------------------

enum class AtConfigPath { File, Directory, Fifo };

TEST(ConfigDomain, StartLineNamesTheDomainOfTheWinningSourceAndNothingElse) {
  const std::string full_file = R"(domain = "file.example"
git_protocol = "ssh"
editor = "vim"

[aliases]
co = "pr checkout"

[templates]
gitignore_repo = "qel/gitignore"
license_repo = "qel/license"

[auth."file.example"]
user = "alice"
last_login = 1700000000

[auth."file.example".users.alice]
storage = "config"
token = "A"

[plugins.extra]
enabled = true
)";
  const std::string only_domain = "domain = \"file.example\"\n";
  const struct {
    const char* name;
    AtConfigPath kind;
    std::string config;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    const char* domain;
  } cases[] = {
      {"domain only", AtConfigPath::File, only_domain, {}, {}, "file.example"},
      {"keys and tables this server does not know", AtConfigPath::File, full_file, {}, {}, "file.example"},
      {"QEL_DOMAIN beats the file", AtConfigPath::File, only_domain, {}, {{"QEL_DOMAIN", "env.example"}},
       "env.example"},
      {"--domain beats QEL_DOMAIN and the file", AtConfigPath::File, only_domain,
       {"--domain", "cli.example"}, {{"QEL_DOMAIN", "env.example"}}, "cli.example"},
      {"user entry without storage", AtConfigPath::File,
       only_domain + "[auth.\"file.example\".users.alice]\ntoken = \"A\"\n", {}, {}, "qel.dev"},
      {"storage spelled Keyring", AtConfigPath::File,
       only_domain + "[auth.\"file.example\".users.alice]\nstorage = \"Keyring\"\n", {}, {}, "qel.dev"},
      {"a value of the wrong type", AtConfigPath::File, only_domain + "git_protocol = 2\n", {}, {}, "qel.dev"},
      {"the same key twice", AtConfigPath::File, only_domain + "domain = \"other.example\"\n", {}, {}, "qel.dev"},
      {"TOML syntax error after the domain", AtConfigPath::File, only_domain + "[[[auth\n", {}, {}, "qel.dev"},
      {"bytes that are not UTF-8", AtConfigPath::File, only_domain + "# \xff\xfe\x80\n", {}, {}, "qel.dev"},
      {"binary garbage", AtConfigPath::File, std::string("\x7f" "ELF\0\0\x01\x02\n", 9), {}, {}, "qel.dev"},
      {"a directory at the path", AtConfigPath::Directory, "", {}, {}, "qel.dev"},
      {"a FIFO without a writer at the path", AtConfigPath::Fifo, "", {}, {}, "qel.dev"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto options = plain_server(c.args, c.env);
    switch (c.kind) {
      case AtConfigPath::File:
        options.home->write_file(kConfigPath, c.config);
        break;
      case AtConfigPath::Directory:
        options.home->make_dir(kConfigPath);
        break;
      case AtConfigPath::Fifo:
        options.home->make_dir(".qel");
        ASSERT_EQ(::mkfifo((options.home->path() + "/" + kConfigPath).c_str(), 0600), 0);
        break;
    }
    const auto start = Clock::now();
    ServerProcess server(options);
    EXPECT_EQ(without_timestamps(stderr_through_start_line(server)), start_line(c.domain));
    EXPECT_LT(seconds_since(start), 3.0);
    EXPECT_EQ(server.wait_exit(0), std::nullopt) << "the server did not wait for its client";
  }
}

TEST(ConfigDomain, FileDomainIsWhereRequestsGoAndWhoseTokenIsUsed) {
  MockPlatform mock;
  mock.on("GET", "/g/r", {{.body = R"({"name":"r"})"}});
  const auto exchange = get_repository(mock, mock_server(mock,
                                                         "domain = \"{domain}\"\n"
                                                         "[auth.\"{domain}\".users.alice]\n"
                                                         "storage = \"config\"\n"
                                                         "token = \"file-token\"\n",
                                                         {}, /*domain_from_file=*/true));
  EXPECT_EQ(exchange.result.text, R"({"name":"r"})");
  EXPECT_FALSE(exchange.result.is_error);
  EXPECT_EQ(authorization_of(exchange), "Bearer file-token");
  EXPECT_NE(without_timestamps(exchange.stderr_text).find(start_line(mock.domain())), std::string::npos)
      << exchange.stderr_text;
}

// ---- the token ------------------------------------------------------------------

// "{domain}" in names, values and files stands for the mock's domain
// localhost:<port>; its per-domain variable keeps the colon.
const std::string kAliceAndBob = R"([auth."{domain}".users.bob]
storage = "config"
token = "B"

[auth."{domain}".users.alice]
storage = "config"
token = "A"
)";

TEST(TokenSource, EachSourceReachesThePlatformAsTheBearerToken) {
  const struct {
    const char* name;
    std::map<std::string, std::string> env;
    std::string config;
    const char* authorization;
  } cases[] = {
      {"QEL_TOKEN beats everything else",
       {{"QEL_TOKEN", "env-token"}, {"QEL_TOKEN_{domain}", "domain-token"}},
       kAliceAndBob,
       "Bearer env-token"},
      {"empty QEL_TOKEN gives way to the per-domain variable",
       {{"QEL_TOKEN", ""}, {"QEL_TOKEN_{domain}", "domain-token"}},
       kAliceAndBob,
       "Bearer domain-token"},
      {"QEL_TOKEN that is not UTF-8 gives way to the per-domain variable",
       {{"QEL_TOKEN", "\xff\xfe"}, {"QEL_TOKEN_{domain}", "domain-token"}},
       "",
       "Bearer domain-token"},
      {"first user by name when none is active", {}, kAliceAndBob, "Bearer A"},
      {"the active user", {}, "[auth.\"{domain}\"]\nuser = \"bob\"\n" + kAliceAndBob, "Bearer B"},
      {"empty variables fall through to the file",
       {{"QEL_TOKEN", ""}, {"QEL_TOKEN_{domain}", ""}},
       kAliceAndBob,
       "Bearer A"},
      {"host-level token of the active user who is not in users", {},
       "[auth.\"{domain}\"]\nuser = \"carol\"\nusername = \"carol\"\ntoken = \"H\"\n" + kAliceAndBob,
       "Bearer H"},
      {"host-level token of the older single-user layout", {},
       "[auth.\"{domain}\"]\nusername = \"carol\"\ntoken = \"H\"\n", "Bearer H"},
      {"the entry of this domain among others", {},
       "[auth.\"qel.dev\"]\nusername = \"x\"\ntoken = \"wrong\"\n"
       "[auth.\"{domain}\"]\nusername = \"x\"\ntoken = \"right\"\n",
       "Bearer right"},
  };
  MockPlatform mock;
  mock.on("GET", "/g/r", {{.body = R"({"name":"r"})"}});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto exchange = get_repository(mock, mock_server(mock, c.config, c.env));
    EXPECT_EQ(authorization_of(exchange), c.authorization);
    EXPECT_EQ(exchange.result.text, R"({"name":"r"})");
  }
}

TEST(TokenSource, WithoutAUsableTokenNothingIsSentAndTheUserIsToldHowToSetOne) {
  const struct {
    const char* name;
    std::map<std::string, std::string> env;
    std::string config;
  } cases[] = {
      {"no source at all", {}, ""},
      {"only an empty QEL_TOKEN", {{"QEL_TOKEN", ""}}, ""},
      {"per-domain variable with the colon replaced", {{"QEL_TOKEN_localhost_{port}", "t"}}, ""},
      {"active user stored in the file with an empty token, host token set", {},
       "[auth.\"{domain}\"]\nuser = \"alice\"\nusername = \"alice\"\ntoken = \"H\"\n"
       "[auth.\"{domain}\".users.alice]\nstorage = \"config\"\ntoken = \"\"\n"},
      {"active user stored in the file without a token", {},
       "[auth.\"{domain}\".users.alice]\nstorage = \"config\"\n"},
      {"host-level token belongs to another user", {},
       "[auth.\"{domain}\"]\nuser = \"carol\"\nusername = \"dave\"\ntoken = \"H\"\n"},
      {"credentials only for another host", {}, "[auth.\"qel.dev\"]\nusername = \"x\"\ntoken = \"H\"\n"},
      {"host name differing only in case", {}, "[auth.\"LOCALHOST:{port}\"]\nusername = \"x\"\ntoken = \"H\"\n"},
  };
  MockPlatform mock;
  mock.on("GET", "/g/r", {{.status = 401, .body = R"({"message":"unauthorized"})"}});
  const std::string port = std::to_string(mock.port());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, std::string> env;
    for (const auto& [name, value] : c.env) env[std::regex_replace(name, std::regex(R"(\{port\})"), port)] = value;
    const std::string config = std::regex_replace(c.config, std::regex(R"(\{port\})"), port);
    const auto exchange = get_repository(mock, mock_server(mock, config, env));
    EXPECT_EQ(authorization_of(exchange), std::nullopt);
    EXPECT_EQ(exchange.result.text, kAuthFailure);
    EXPECT_TRUE(exchange.result.is_error);
    EXPECT_FALSE(exchange.result.error.has_value());
  }
}

TEST(TokenSource, TokenFromTheFileThatCannotBeAHeaderStopsStartupWithoutShowingIt) {
  const struct {
    const char* name;
    const char* toml_token;  // as written between the quotes in the file
  } cases[] = {
      {"line feed", R"(secret-part\nrest)"},
      {"carriage return", R"(secret-part\rrest)"},
      {"DEL", R"(secret-part\u007frest)"},
  };
  MockPlatform mock;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    mock.clear();
    ServerProcess server(mock_server(mock, std::string("[auth.\"{domain}\".users.alice]\nstorage = \"config\"\n") +
                                               "token = \"" + c.toml_token + "\"\n"));
    EXPECT_EQ(server.wait_exit(), 1);
    const std::string err = server.stderr_text();
    EXPECT_NE(err.find("Error: 认证失败：failed to parse header value\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("secret-part"), std::string::npos) << err;
    EXPECT_EQ(err.find("rest"), std::string::npos) << err;
    EXPECT_EQ(err.find("qelkit-mcp starting"), std::string::npos) << err;
    EXPECT_EQ(server.read_line(200), std::nullopt);
    EXPECT_TRUE(mock.requests().empty());
  }
}

// ---- the Secret Service ------------------------------------------------------------

using qeltest::on_path;

std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

const std::string kAliceInKeyring = R"([auth."{domain}"]
user = "alice"

[auth."{domain}".users.alice]
storage = "keyring"
)";

struct KeyringItem {
  std::string service;  // "{domain}" is the mock's domain
  std::string username;
  std::string secret;
};

// Run with `dbus-run-session -- sh <script>`: brings up an unlocked
// gnome-keyring on the private bus, stores the items as other tools do, then
// becomes the server. Only the server writes to stdout. Status 77: no
// Secret Service could be brought up here.
std::string keyring_session_script(const std::vector<KeyringItem>& items, const std::string& domain) {
  std::string script =
      "printf '%s' pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1 || {\n"
      "  echo 'qeltest: gnome-keyring-daemon did not start' >&2; exit 77; }\n";
  for (const auto& item : items) {
    script += "printf '%s' " + shell_quoted(item.secret) + " | secret-tool store --label=x service " +
              shell_quoted(with_domain(item.service, domain)) + " username " + shell_quoted(item.username) +
              " >&2 || { echo 'qeltest: secret-tool store failed' >&2; exit 77; }\n";
  }
  script += "exec " + shell_quoted(QELKIT_MCP_BINARY) + " --domain " + shell_quoted(domain) + "\n";
  return script;
}

TEST(KeyringToken, ItemOfTheActiveUserInARealSecretServiceBecomesTheBearerToken) {
  if (qel::core::system_keychain_kind() != "secret-service") {
    GTEST_SKIP() << "the server is built without libsecret, so it reads no Secret Service";
  }
  for (const char* program : {"dbus-run-session", "gnome-keyring-daemon", "secret-tool", "sh"}) {
    if (!on_path(program)) GTEST_SKIP() << program << " is not installed; cannot start a private Secret Service";
  }
  const struct {
    const char* name;
    std::vector<KeyringItem> items;
    std::optional<std::string> authorization;
  } cases[] = {
      {"plain token", {{"qelkit:{domain}", "alice", "kt-1"}}, "Bearer kt-1"},
      {"OAuth blob, expired", {{"qelkit:{domain}", "alice", R"({"access_token":"t2","expires_at":1})"}}, "Bearer t2"},
      {"JSON without access_token is the token as it stands",
       {{"qelkit:{domain}", "alice", R"({"refresh_token":"r"})"}},
       R"(Bearer {"refresh_token":"r"})"},
      {"items only for another user or another domain",
       {{"qelkit:{domain}", "bob", "kt-bob"}, {"qelkit:qel.dev", "alice", "kt-other"}},
       std::nullopt},
  };
  MockPlatform mock;
  mock.on("GET", "/g/r", {{.body = R"({"name":"r"})"}});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    mock.clear();
    // The daemon keeps everything in this directory, never in the keyrings
    // of whoever runs the tests.
    auto options = mock_server(mock, kAliceInKeyring);
    const TempDir& home = *options.home;
    const std::string runtime = home.make_dir("run");
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const std::string script = home.write_file("session.sh", keyring_session_script(c.items, mock.domain()));
    options.binary = "dbus-run-session";
    options.args = {"--", "sh", script};
    options.env["XDG_RUNTIME_DIR"] = runtime;
    options.env["XDG_DATA_HOME"] = home.make_dir("data");
    options.env["XDG_CONFIG_HOME"] = home.make_dir("config");
    options.env["XDG_CACHE_HOME"] = home.make_dir("cache");

    McpClient client(options, 20000);
    ServerProcess& session = client.process();
    // However the case ends, the server gets its end of input and exits on
    // its own, so that dbus-run-session takes the bus and the keyring daemon
    // down with it instead of being killed and leaving them behind.
    struct EndSession {
      ServerProcess& session;
      ~EndSession() {
        session.close_stdin();
        session.wait_exit(10000);
      }
    } end_session{session};
    const std::string err = stderr_through_start_line(session, 30000);
    if (err.find("qelkit-mcp starting") == std::string::npos) {
      const auto status = session.wait_exit(5000);
      if (status == 77) GTEST_SKIP() << "no Secret Service could be started on a private bus:\n" << err;
      FAIL() << "the server did not start inside the private session (status "
             << (status ? std::to_string(*status) : "running") << ")\n"
             << err;
    }
    client.initialize();
    Exchange exchange;
    exchange.result = client.call_tool("qel_get_repository", kRepoArgs);
    exchange.requests = mock.requests();
    exchange.stderr_text = session.stderr_text();
    EXPECT_EQ(authorization_of(exchange), c.authorization) << exchange.stderr_text;
    session.close_stdin();
    EXPECT_EQ(session.wait_exit(10000), 0) << session.stderr_text();
  }
}

TEST(KeyringToken, WithoutASessionBusStartupGoesOnQuicklyWithoutAToken) {
  MockPlatform mock;
  mock.on("GET", "/g/r", {{.status = 401, .body = "{}"}});
  auto options = mock_server(mock, kAliceInKeyring);
  // No DBUS_SESSION_BUS_ADDRESS (the environment is clean) and no per-user
  // bus socket in the runtime directory.
  const std::string runtime = options.home->make_dir("run");
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  options.env["XDG_RUNTIME_DIR"] = runtime;

  const auto start = Clock::now();
  McpClient client(options);
  client.initialize();
  const double startup = seconds_since(start);
  EXPECT_LT(startup, 2.0) << "start-up waited for a keyring that cannot answer";
  const auto result = client.call_tool("qel_get_repository", kRepoArgs);
  Exchange exchange{result, mock.requests(), client.process().stderr_text()};
  EXPECT_EQ(authorization_of(exchange), std::nullopt);
  EXPECT_EQ(result.text, kAuthFailure);
  EXPECT_EQ(without_timestamps(exchange.stderr_text).rfind(start_line(mock.domain()), 0), 0u)
      << "start-up logged more than its start line:\n"
      << exchange.stderr_text;
}

}  // namespace
