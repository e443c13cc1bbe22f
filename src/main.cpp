// Start-up: command line, logging, configuration, token, API client, then the
// MCP service on standard input and output until the client goes away.
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "api/client.hpp"
#include "core/config_file.hpp"
#include "core/credentials.hpp"
#include "core/log.hpp"
#include "mcp/server.hpp"

namespace {

constexpr const char* kDefaultDomain = QEL_DEFAULT_DOMAIN;

struct Args {
  std::optional<std::string> domain;
};

// Parses the command line; on help, version or a usage error returns the
// exit status to end with.
std::variant<Args, int> parse_args(int argc, char** argv) {
  CLI::App app{std::string("QEL MCP Server - native MCP server for the QEL platform (") + kDefaultDomain + ")",
               "qelkit-mcp"};
  app.set_version_flag("-V,--version", std::string("qelkit-mcp ") + QEL_VERSION);
  std::string domain;
  auto* option = app.add_option("--domain", domain, std::string("QEL domain [default: ") + kDefaultDomain + "]")
                     ->option_text("<DOMAIN>");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    app.exit(e);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    app.exit(e);
    return 0;
  } catch (const CLI::ParseError& e) {
    app.exit(e, std::cerr, std::cerr);
    return 2;
  }
  Args args;
  if (option->count() > 0) {
    args.domain = domain;
  } else if (const char* env = std::getenv("QEL_DOMAIN"); env && *env) {
    args.domain = env;
  }
  return args;
}

int fail(const std::string& text, const std::vector<std::string>& causes = {}) {
  std::string out = "Error: " + text + "\n";
  if (!causes.empty()) {
    out += "\nCaused by:\n";
    for (std::size_t i = 0; i < causes.size(); ++i) {
      out += causes.size() > 1 ? "    " + std::to_string(i) + ": " + causes[i] + "\n" : "    " + causes[i] + "\n";
    }
  }
  std::cerr << out << std::flush;
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // A client that goes away must show up as a write error, not kill us.
  std::signal(SIGPIPE, SIG_IGN);

  auto parsed = parse_args(argc, argv);
  if (auto* status = std::get_if<int>(&parsed)) return *status;
  const Args& args = std::get<Args>(parsed);

  auto config = qel::core::load_config();
  std::string domain = args.domain ? *args.domain : config.domain ? *config.domain : kDefaultDomain;
  std::string token = qel::core::resolve_token(domain, config);

  auto api = qel::api::ApiClient::create(domain, token);
  token.assign(token.size(), '\0');
  if (!api) return fail(api.error().display(), api.error().causes);

  qel::log::info("qelkit_mcp", "qelkit-mcp starting (domain=" + domain + ")");
  if (auto error = qel::mcp::serve(*api, STDIN_FILENO, STDOUT_FILENO)) return fail(*error);
  return 0;
}
