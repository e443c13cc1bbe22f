#pragma once
// Finding the personal access token for a domain. Sources, first hit wins:
//   1. QEL_TOKEN
//   2. QEL_TOKEN_<domain without "." and "-">
//   3. the configuration file's entry for the domain, whose user's token is
//      kept either in the file or in the system keychain
#include <optional>
#include <string>
#include <string_view>

#include "core/config_file.hpp"
#include "core/keychain.hpp"

namespace qel::core {

inline constexpr std::string_view kConfigTokenMissing = "配置文件中未找到 token";
inline constexpr std::string_view kNoTokenSource = "未找到 token";

// The token, or why none was found (kNoTokenSource, kConfigTokenMissing or a
// keychain outcome's text).
struct TokenResolution {
  std::optional<std::string> token;
  std::string failure;
};

// "QEL_TOKEN_" followed by the domain with every "." and "-" removed.
std::string domain_token_variable(std::string_view domain);

// Resolution against the process environment, the given configuration and
// the given keychain store. Never logs; the failure text is for callers that
// want to know why.
TokenResolution resolve_token_with(std::string_view domain, const ConfigFile& config,
                                   const KeychainBackend& keychain = system_keychain_find);

// The token for `domain`, or "" when no source yields one.
std::string resolve_token(std::string_view domain, const ConfigFile& config);

}  // namespace qel::core
