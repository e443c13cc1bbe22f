#include "core/credentials.hpp"

#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>

#include "core/config_utf8.hpp"

namespace qel::core {
namespace {

// An environment variable that is set, valid UTF-8 and not empty.
std::optional<std::string> token_variable(const std::string& name) {
  // getenv cannot look up such names: "A=B" would match the variable A with
  // a value starting "B=".
  if (name.find_first_of(std::string_view("=\0", 2)) != std::string::npos) return std::nullopt;
  const char* value = std::getenv(name.c_str());
  if (value == nullptr || value[0] == '\0') return std::nullopt;
  std::string text(value);
  if (!is_valid_utf8(text)) return std::nullopt;
  return text;
}

TokenResolution found(std::string token) {
  return {std::move(token), {}};
}
TokenResolution missing(std::string_view why) {
  return {std::nullopt, std::string(why)};
}

bool is_optional_string(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() || it->is_null() || it->is_string();
}

bool is_optional_i64(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return true;
  if (it->is_number_unsigned()) return it->get<std::uint64_t>() <= static_cast<std::uint64_t>(INT64_MAX);
  return it->is_number_integer();
}

// The command-line tool stores either the bare token or an OAuth blob
// {"access_token": ..., "refresh_token": ..., "expires_at": ...}. Only a
// well-formed blob is unwrapped; anything else is the token as it stands.
std::string token_from_keychain_text(const std::string& text) {
  try {
    bool repeated_key = false;
    std::set<std::string> keys;
    const auto watch_keys = [&](int depth, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
      if (event == nlohmann::json::parse_event_t::key && depth == 1 && !keys.insert(parsed.get<std::string>()).second) {
        repeated_key = true;
      }
      return true;
    };
    const nlohmann::json blob = nlohmann::json::parse(text, watch_keys);
    if (repeated_key || !blob.is_object()) return text;
    const auto access = blob.find("access_token");
    if (access == blob.end() || !access->is_string()) return text;
    if (!is_optional_string(blob, "refresh_token") || !is_optional_i64(blob, "expires_at")) return text;
    return access->get<std::string>();
  } catch (...) {
    return text;
  }
}

TokenResolution from_keychain(std::string_view domain, const std::string& user, const KeychainBackend& keychain) {
  KeychainOutcome outcome = keychain_lookup("qelkit:" + std::string(domain), user, keychain);
  if (!outcome.found) return missing(outcome.text);
  return found(token_from_keychain_text(outcome.text));
}

TokenResolution from_config(std::string_view domain, const ConfigFile& config, const KeychainBackend& keychain) {
  const auto host_it = config.auth.find(std::string(domain));
  if (host_it == config.auth.end()) return missing(kNoTokenSource);
  const HostAuth& host = host_it->second;

  std::optional<std::string> name = host.user;
  if (!name && !host.users.empty()) name = host.users.begin()->first;
  if (!name) name = host.username;
  if (!name) return missing(kNoTokenSource);

  if (const auto user_it = host.users.find(*name); user_it != host.users.end()) {
    const UserAuth& user = user_it->second;
    if (user.storage == TokenStorage::Keyring) return from_keychain(domain, *name, keychain);
    if (user.token && !user.token->empty()) return found(*user.token);
    return missing(kConfigTokenMissing);
  }
  // Older layout: one token stored on the host itself.
  if (host.username == name && host.token && !host.token->empty()) return found(*host.token);
  return missing(kNoTokenSource);
}

}  // namespace

std::string domain_token_variable(std::string_view domain) {
  std::string name = "QEL_TOKEN_";
  for (const char c : domain) {
    if (c != '.' && c != '-') name += c;
  }
  return name;
}

TokenResolution resolve_token_with(std::string_view domain, const ConfigFile& config, const KeychainBackend& keychain) {
  try {
    if (auto token = token_variable("QEL_TOKEN")) return found(std::move(*token));
    if (auto token = token_variable(domain_token_variable(domain))) return found(std::move(*token));
    return from_config(domain, config, keychain);
  } catch (...) {
    // Only allocation can fail here; resolution must never stop start-up.
    return missing(kNoTokenSource);
  }
}

std::string resolve_token(std::string_view domain, const ConfigFile& config) {
  TokenResolution resolution = resolve_token_with(domain, config);
  return resolution.token ? std::move(*resolution.token) : std::string();
}

}  // namespace qel::core
