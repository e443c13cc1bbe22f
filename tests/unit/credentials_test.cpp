// Token resolution: the order of the sources and the choice of user, on
// configurations parsed from real TOML text. The keychain is an injected
// store here; keychain_test.cpp runs the real Secret Service.
#include "core/credentials.hpp"

#include <gtest/gtest.h>

#include "scoped_env.hpp"

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/config_file.hpp"
#include "core/keychain.hpp"

namespace {

using qel::core::KeychainAnswer;
using qel::core::parse_config;
using qel::core::resolve_token_with;

// Sets or unsets one environment variable for the life of the object.
using qeltest::ScopedEnv;

// Every variable any case below reads, cleared unless the case sets it.
const char* const kTokenVariables[] = {"QEL_TOKEN", "QEL_TOKEN_examplecom", "QEL_TOKEN_abc", "QEL_TOKEN_a_b_c",
                                       "QEL_TOKEN_ExampleCom"};

// A keychain holding items by "service|account"; it notes every lookup.
struct FakeKeychain {
  std::map<std::string, KeychainAnswer> items;
  std::vector<std::string> lookups;

  qel::core::KeychainBackend backend() {
    return [this](const std::string& service, const std::string& account) {
      lookups.push_back(service + "|" + account);
      const auto it = items.find(service + "|" + account);
      return it != items.end() ? it->second : KeychainAnswer{KeychainAnswer::Status::NotFound, {}};
    };
  }
};

KeychainAnswer item(std::string text) {
  return {KeychainAnswer::Status::Found, std::move(text)};
}

struct Case {
  const char* name;
  std::map<std::string, std::string> env;
  std::string domain;
  std::string toml;
  std::map<std::string, KeychainAnswer> keychain;
  std::optional<std::string> token;
  std::string failure;  // checked when no token is expected
  std::vector<std::string> lookups;
};

constexpr const char* kHostWithTokens = R"(
[auth."example.com"]
token = "host-token"
username = "alice"
[auth."example.com".users.alice]
token = "alice-token"
storage = "config"
)";

TEST(CredentialResolution, FollowsTheSourceOrder) {
  const Case cases[] = {
      {"QEL_TOKEN wins over everything",
       {{"QEL_TOKEN", "env-token"}, {"QEL_TOKEN_examplecom", "domain-token"}},
       "example.com",
       kHostWithTokens,
       {},
       "env-token",
       "",
       {}},
      {"empty QEL_TOKEN falls through to the per-domain variable",
       {{"QEL_TOKEN", ""}, {"QEL_TOKEN_examplecom", "domain-token"}},
       "example.com",
       kHostWithTokens,
       {},
       "domain-token",
       "",
       {}},
      {"QEL_TOKEN that is not UTF-8 falls through",
       {{"QEL_TOKEN", "bad\xff"}, {"QEL_TOKEN_examplecom", "domain-token"}},
       "example.com",
       "",
       {},
       "domain-token",
       "",
       {}},
      {"per-domain variable drops dots and dashes",
       {{"QEL_TOKEN_abc", "abc-token"}, {"QEL_TOKEN_a_b_c", "underscore-token"}},
       "a-b.c",
       "",
       {},
       "abc-token",
       "",
       {}},
      {"underscore form of the domain is never read",
       {{"QEL_TOKEN_a_b_c", "underscore-token"}},
       "a-b.c",
       "",
       {},
       std::nullopt,
       "未找到 token",
       {}},
      {"per-domain variable keeps the domain's case",
       {{"QEL_TOKEN_ExampleCom", "case-token"}, {"QEL_TOKEN_examplecom", "lower-token"}},
       "Example.Com",
       "",
       {},
       "case-token",
       "",
       {}},
      {"empty per-domain variable falls through to the file",
       {{"QEL_TOKEN_examplecom", ""}},
       "example.com",
       kHostWithTokens,
       {},
       "alice-token",
       "",
       {}},
      {"no entry for the domain",
       {},
       "example.com",
       R"(
[auth."other.example".users.alice]
token = "other"
storage = "config"
)",
       {},
       std::nullopt,
       "未找到 token",
       {}},
      {"host names match case-sensitively",
       {},
       "example.com",
       R"(
[auth."Example.com".users.alice]
token = "other"
storage = "config"
)",
       {},
       std::nullopt,
       "未找到 token",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<ScopedEnv>> env;
    for (const char* name : kTokenVariables) {
      const auto it = c.env.find(name);
      env.push_back(std::make_unique<ScopedEnv>(name, it != c.env.end() ? std::optional(it->second) : std::nullopt));
    }
    FakeKeychain keychain;
    const auto result = resolve_token_with(c.domain, parse_config(c.toml), keychain.backend());
    EXPECT_EQ(result.token, c.token);
    if (!c.token) {
      EXPECT_EQ(result.failure, c.failure);
    }
  }
}

TEST(CredentialResolution, ChoosesTheUserAndWhereItsTokenLives) {
  const Case cases[] = {
      {"first user in byte order when none is active",
       {},
       "example.com",
       R"(
[auth."example.com".users.bob]
token = "bob-token"
storage = "config"
[auth."example.com".users.alice]
token = "alice-token"
storage = "config"
)",
       {},
       "alice-token",
       "",
       {}},
      {"the active user wins over the first",
       {},
       "example.com",
       R"(
[auth."example.com"]
user = "bob"
[auth."example.com".users.bob]
token = "bob-token"
storage = "config"
[auth."example.com".users.alice]
token = "alice-token"
storage = "config"
)",
       {},
       "bob-token",
       "",
       {}},
      {"stored in the file but empty: no fallback to the host token",
       {},
       "example.com",
       R"(
[auth."example.com"]
token = "host-token"
username = "alice"
[auth."example.com".users.alice]
token = ""
storage = "config"
)",
       {},
       std::nullopt,
       "配置文件中未找到 token",
       {}},
      {"stored in the file but absent",
       {},
       "example.com",
       R"(
[auth."example.com".users.alice]
storage = "config"
)",
       {},
       std::nullopt,
       "配置文件中未找到 token",
       {}},
      {"active user not in users, host username matches",
       {},
       "example.com",
       R"(
[auth."example.com"]
user = "carol"
token = "host-token"
username = "carol"
[auth."example.com".users.alice]
token = "alice-token"
storage = "config"
)",
       {},
       "host-token",
       "",
       {}},
      {"active user not in users, host username differs",
       {},
       "example.com",
       R"(
[auth."example.com"]
user = "carol"
token = "host-token"
username = "dave"
)",
       {},
       std::nullopt,
       "未找到 token",
       {}},
      {"older single-user layout",
       {},
       "example.com",
       R"(
[auth."example.com"]
token = "host-token"
username = "dave"
)",
       {},
       "host-token",
       "",
       {}},
      {"older layout with an empty token",
       {},
       "example.com",
       R"(
[auth."example.com"]
token = ""
username = "dave"
)",
       {},
       std::nullopt,
       "未找到 token",
       {}},
      {"host token without a user name",
       {},
       "example.com",
       R"(
[auth."example.com"]
token = "host-token"
)",
       {},
       std::nullopt,
       "未找到 token",
       {}},
      {"keyring item of the active user",
       {},
       "a-b.c",
       R"(
[auth."a-b.c"]
user = "bob"
[auth."a-b.c".users.bob]
storage = "keyring"
token = "ignored-file-token"
)",
       {{"qelkit:a-b.c|bob", item("keyring-token")}},
       "keyring-token",
       "",
       {"qelkit:a-b.c|bob"}},
      {"keyring without the item",
       {},
       "example.com",
       R"(
[auth."example.com"]
token = "host-token"
username = "alice"
[auth."example.com".users.alice]
storage = "keyring"
)",
       {},
       std::nullopt,
       "keyring 中未找到对应 token",
       {"qelkit:example.com|alice"}},
      {"keyring failure carries the store's text",
       {},
       "example.com",
       R"(
[auth."example.com".users.alice]
storage = "keyring"
)",
       {{"qelkit:example.com|alice", {KeychainAnswer::Status::Failed, "collection is locked"}}},
       std::nullopt,
       "collection is locked",
       {"qelkit:example.com|alice"}},
  };
  ScopedEnv no_token("QEL_TOKEN", std::nullopt);
  ScopedEnv no_domain_token("QEL_TOKEN_examplecom", std::nullopt);
  ScopedEnv no_abc_token("QEL_TOKEN_abc", std::nullopt);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const qel::core::ConfigFile config = parse_config(c.toml);
    ASSERT_FALSE(config.auth.empty()) << "the case's TOML did not parse";
    FakeKeychain keychain;
    keychain.items = c.keychain;
    const auto result = resolve_token_with(c.domain, config, keychain.backend());
    EXPECT_EQ(result.token, c.token);
    if (!c.token) {
      EXPECT_EQ(result.failure, c.failure);
    }
    EXPECT_EQ(keychain.lookups, c.lookups);
  }
}

TEST(CredentialResolution, UnwrapsOnlyWellFormedOAuthBlobs) {
  const struct {
    const char* stored;
    const char* token;
  } cases[] = {
      {R"({"access_token":"t","expires_at":1})", "t"},  // expired long ago: no expiry check
      {R"({"access_token":"t","refresh_token":"r","expires_at":-5,"scope":"repo"})", "t"},
      {R"({"access_token":"t","refresh_token":null})", "t"},
      {R"( {"access_token":""} )", ""},
      {R"({"refresh_token":"r"})", R"({"refresh_token":"r"})"},
      {R"({"access_token":5})", R"({"access_token":5})"},
      {R"({"access_token":"t","expires_at":"soon"})", R"({"access_token":"t","expires_at":"soon"})"},
      {R"({"access_token":"t","expires_at":1.5})", R"({"access_token":"t","expires_at":1.5})"},
      {R"({"access_token":"t","expires_at":9223372036854775808})",
       R"({"access_token":"t","expires_at":9223372036854775808})"},
      {R"({"access_token":"t","refresh_token":7})", R"({"access_token":"t","refresh_token":7})"},
      {R"({"access_token":"a","access_token":"b"})", R"({"access_token":"a","access_token":"b"})"},
      {R"({"access_token":"t"} trailing)", R"({"access_token":"t"} trailing)"},
      {R"(["access_token","t"])", R"(["access_token","t"])"},
      {R"("t")", R"("t")"},
      {"plain-token", "plain-token"},
      {"", ""},
  };
  ScopedEnv no_token("QEL_TOKEN", std::nullopt);
  ScopedEnv no_domain_token("QEL_TOKEN_examplecom", std::nullopt);
  const auto config = parse_config("[auth.\"example.com\".users.alice]\nstorage = \"keyring\"\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    FakeKeychain keychain;
    keychain.items = {{"qelkit:example.com|alice", item(c.stored)}};
    const auto result = resolve_token_with("example.com", config, keychain.backend());
    EXPECT_EQ(result.token, std::optional<std::string>(c.token));
  }
}

TEST(CredentialResolution, PublicEntryGivesEmptyTextWhenNothingIsFound) {
  ScopedEnv no_token("QEL_TOKEN", std::nullopt);
  ScopedEnv no_domain_token("QEL_TOKEN_examplecom", std::nullopt);
  EXPECT_EQ(qel::core::resolve_token("example.com", {}), "");
  EXPECT_EQ(qel::core::resolve_token("example.com", parse_config(R"(
[auth."example.com".users.alice]
storage = "config"
)")),
            "");
  ScopedEnv token("QEL_TOKEN", "env-token");
  EXPECT_EQ(qel::core::resolve_token("example.com", {}), "env-token");
}

}  // namespace
