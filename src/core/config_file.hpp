#pragma once
// The configuration file shared with the platform's command-line tool:
// ~/.qel/config.toml. The command-line tool writes it; this server reads it
// once at start-up for the default domain and the stored credentials.
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace qel::core {

// Where a user's token lives.
enum class TokenStorage { Keyring, Config };

// One logged-in user of a host (auth."<host>".users.<name>).
struct UserAuth {
  std::optional<std::string> token;  // present when the token is kept in this file
  TokenStorage storage = TokenStorage::Keyring;
};

// One host (auth."<host>").
struct HostAuth {
  std::optional<std::string> user;        // the active user, a key of `users`
  std::map<std::string, UserAuth> users;  // ordered by name, byte-wise
  std::optional<std::string> token;       // older single-user layout
  std::optional<std::string> username;    // older single-user layout
};

struct TemplatesConfig {
  std::optional<std::string> gitignore_repo;
  std::optional<std::string> license_repo;
};

struct ConfigFile {
  std::optional<std::string> domain;
  std::optional<std::string> git_protocol;
  std::map<std::string, HostAuth> auth;  // by host name, byte-wise
  std::optional<TemplatesConfig> templates;
  std::map<std::string, std::string> aliases;
};

// Reads <home>/.qel/config.toml. Never fails: a missing, unreadable or
// invalid file gives the empty ConfigFile, silently. When no home directory
// can be found, logs a warning and reads ./.qel/config.toml instead.
ConfigFile load_config();

// Parses the file's text. Any fault (TOML syntax, a value of the wrong type,
// a user without a valid `storage`, a repeated key, invalid UTF-8) discards
// the whole text and gives the empty ConfigFile.
ConfigFile parse_config(std::string_view toml_text);

}  // namespace qel::core
