// The configuration file, read from real files under a temporary HOME.
#include "core/config_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>

#include "scoped_env.hpp"
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "server_process.hpp"
#include "temp_dir.hpp"

namespace {

using qel::core::ConfigFile;
using qel::core::load_config;
using qel::core::TokenStorage;

using qeltest::ScopedEnv;

bool is_empty(const ConfigFile& config) {
  return !config.domain && !config.git_protocol && config.auth.empty() && !config.templates && config.aliases.empty();
}

std::string repeat(std::string_view text, std::size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += text;
  return out;
}

// A temporary directory that is HOME while the fixture lives.
class ConfigFileTest : public ::testing::Test {
 protected:
  ConfigFileTest() : home_("qel-config-home"), home_env_("HOME", home_.path()) {}

  // Writes ~/.qel/config.toml and reads it back the way start-up does.
  ConfigFile load(std::string_view text) {
    home_.write_file(".qel/config.toml", text);
    return load_config();
  }
  std::string config_path() const { return home_.path() + "/.qel/config.toml"; }

  qeltest::TempDir home_;
  ScopedEnv home_env_;
};

constexpr std::string_view kFullConfig = R"(# written by the command-line tool
domain = "code.example.org"
git_protocol = "ssh"
editor = "vim"          # a key this server does not know
pager = { cmd = "less", args = ["-R"] }

[auth."code.example.org"]
user = "bob"
token = "legacy-token"
username = "bob"
last_login = 2024-05-01T10:00:00Z

[auth."code.example.org".users.bob]
storage = "keyring"

[auth."code.example.org".users.alice]
token = "alice-token"
storage = "config"
scopes = ["repo", "user"]

[auth."code.example.org".users."Zed"]
storage = "keyring"

[auth."code.example.org".users."émile"]
storage = "keyring"

[auth."other.example"]

[templates]
gitignore_repo = "qel/gitignore"
license_repo = "qel/licenses"
mirror = 3

[aliases]
co = "pr checkout"
"pv" = "pr view"
)";

TEST_F(ConfigFileTest, ReadsEveryRecordAndIgnoresUnknownKeys) {
  const ConfigFile config = load(kFullConfig);
  EXPECT_EQ(config.domain, "code.example.org");
  EXPECT_EQ(config.git_protocol, "ssh");
  ASSERT_EQ(config.auth.size(), 2u);

  const auto& host = config.auth.at("code.example.org");
  EXPECT_EQ(host.user, "bob");
  EXPECT_EQ(host.token, "legacy-token");
  EXPECT_EQ(host.username, "bob");
  std::string names;
  for (const auto& [name, user] : host.users) names += name + ",";
  EXPECT_EQ(names, "Zed,alice,bob,émile,");  // byte order
  EXPECT_EQ(host.users.at("alice").storage, TokenStorage::Config);
  EXPECT_EQ(host.users.at("alice").token, "alice-token");
  EXPECT_EQ(host.users.at("bob").storage, TokenStorage::Keyring);
  EXPECT_FALSE(host.users.at("bob").token);

  const auto& other = config.auth.at("other.example");
  EXPECT_FALSE(other.user);
  EXPECT_TRUE(other.users.empty());

  ASSERT_TRUE(config.templates);
  EXPECT_EQ(config.templates->gitignore_repo, "qel/gitignore");
  EXPECT_EQ(config.templates->license_repo, "qel/licenses");
  EXPECT_EQ(config.aliases, (std::map<std::string, std::string>{{"co", "pr checkout"}, {"pv", "pr view"}}));
}

TEST_F(ConfigFileTest, DomainAloneIsEnough) {
  const ConfigFile config = load("domain = \"x\"\n");
  EXPECT_EQ(config.domain, "x");
  EXPECT_TRUE(config.auth.empty());
  EXPECT_FALSE(config.templates);
}

TEST_F(ConfigFileTest, OneBadEntryDiscardsTheWholeFile) {
  // Every text but its one fault is valid and would set the domain.
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"user without storage", "domain = \"keep\"\n[auth.\"h\".users.alice]\ntoken = \"t\"\n"},
      {"storage spelled Keyring", "domain = \"keep\"\n[auth.\"h\".users.alice]\nstorage = \"Keyring\"\n"},
      {"storage spelled CONFIG", "domain = \"keep\"\n[auth.\"h\".users.alice]\nstorage = \"CONFIG\"\n"},
      {"storage of another kind", "domain = \"keep\"\n[auth.\"h\".users.alice]\nstorage = \"file\"\n"},
      {"storage not a string", "domain = \"keep\"\n[auth.\"h\".users.alice]\nstorage = 1\n"},
      {"domain not a string", "domain = 1\ngit_protocol = \"ssh\"\n"},
      {"domain a date", "domain = 1979-05-27\ngit_protocol = \"ssh\"\n"},
      {"git_protocol an array", "domain = \"keep\"\ngit_protocol = [\"ssh\"]\n"},
      {"domain given twice", "domain = \"keep\"\ndomain = \"again\"\n"},
      {"same key quoted and bare", "domain = \"keep\"\n\"domain\" = \"again\"\n"},
      {"host table given twice", "domain = \"keep\"\n[auth.\"h\"]\nuser = \"a\"\n[auth.\"h\"]\ntoken = \"t\"\n"},
      {"user given inline and as a table",
       "domain = \"keep\"\n[auth.\"h\".users]\nalice = { storage = \"config\" }\n[auth.\"h\".users.alice]\n"
       "storage = \"config\"\n"},
      {"host not a table", "domain = \"keep\"\n[auth]\nh = \"x\"\n"},
      {"users not a table", "domain = \"keep\"\n[auth.\"h\"]\nusers = [\"alice\"]\n"},
      {"user not a table", "domain = \"keep\"\n[auth.\"h\".users]\nalice = \"x\"\n"},
      {"host token not a string", "domain = \"keep\"\n[auth.\"h\"]\ntoken = 123\n"},
      {"user token not a string", "domain = \"keep\"\n[auth.\"h\".users.a]\nstorage = \"config\"\ntoken = true\n"},
      {"active user not a string", "domain = \"keep\"\n[auth.\"h\"]\nuser = { name = \"a\" }\n"},
      {"templates not a table", "domain = \"keep\"\ntemplates = \"x\"\n"},
      {"template repo not a string", "domain = \"keep\"\n[templates]\nlicense_repo = 2\n"},
      {"alias not a string", "domain = \"keep\"\n[aliases]\nco = 1\n"},
      {"aliases not a table", "domain = \"keep\"\naliases = \"co\"\n"},
      {"TOML syntax", "domain = \"keep\"\n[auth\n"},
      {"unterminated string", "git_protocol = \"ssh\"\ndomain = \"keep\n"},
      {"integer out of range in an unknown key", "domain = \"keep\"\nbig = 99999999999999999999\n"},
      {"invalid UTF-8 in a comment", "domain = \"keep\"\n# caf\xC3\n"},
      {"overlong UTF-8 in a string", "domain = \"ke\xC0\xAFp\"\n"},
      {"UTF-16 surrogate encoded in UTF-8", "domain = \"keep\" # \xED\xA0\x80\n"},
      {"NUL byte", std::string("domain = \"keep\"\n\0\n", 18)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(is_empty(load(c.text)));
  }
}

TEST_F(ConfigFileTest, HostileFilesGiveTheEmptyConfiguration) {
  constexpr std::size_t kDeep = 100000;
  std::string garbage(50 * 1024 * 1024, '\0');
  std::mt19937_64 random(7);
  for (char& byte : garbage) byte = static_cast<char>(random());
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"nested arrays", "domain = \"keep\"\na = " + repeat("[", kDeep) + repeat("]", kDeep) + "\n"},
      {"unclosed nested arrays", "domain = \"keep\"\na = " + repeat("[", kDeep) + "\n"},
      {"nested inline tables", "domain = \"keep\"\na = " + repeat("{b=", kDeep) + "1" + repeat("}", kDeep) + "\n"},
      {"deep dotted key", "domain = \"keep\"\n" + repeat("a.", kDeep) + "a = 1\n"},
      {"deep table header", "domain = \"keep\"\n[" + repeat("a.", kDeep) + "a]\n"},
      {"deep array-of-tables header", "domain = \"keep\"\n[[" + repeat("a.", kDeep) + "a]]\n"},
      {"deep dotted key in an inline table", "domain = \"keep\"\nx = {" + repeat("a.", kDeep) + "a = 1}\n"},
      {"header and dotted key adding up",
       "domain = \"keep\"\n[" + repeat("a.", 400) + "a]\n" + repeat("b.", 400) + "b = 1\n"},
      {"only brackets", repeat("[", kDeep)},
      {"50 MB of random bytes", garbage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(is_empty(load(c.text)));
  }
}

TEST_F(ConfigFileTest, LargeAndIntricateValidFilesAreRead) {
  std::string floats = "floats = [";
  for (int i = 0; i < 3000; ++i) floats += std::to_string(i) + ".5, ";
  floats += "0.5]\n";
  std::string wide = "wide = {";
  for (int i = 0; i < 3000; ++i) wide += "k" + std::to_string(i) + ".v = 1, ";
  wide += "last = 1}\n";
  std::string comment_bulk;
  while (comment_bulk.size() < 50u * 1024 * 1024) comment_bulk += "# [a.b.c] {d.e = 1} \"\"\" ''' filler filler\n";

  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"dots, brackets and quotes inside strings",
       "note = \"a.b.c [x] {y} # not a comment \\\" a.b\"\n"
       "lit = 'a.b.c.d\\'\n"
       "ml = \"\"\"\n[not.a.header]\nx.y.z = \\\"\"\" \"\"\n\"\"\"\n"
       "mll = '''a.b.c''''\n"
       "empty = \"\"\n"
       "domain = \"keep\"\n"},
      {"many dots in values", floats + "dates = [1979-05-27T07:32:00.999Z, 07:32:00.5]\ndomain = \"keep\"\n"},
      {"many sibling dotted keys in one inline table", wide + "domain = \"keep\"\n"},
      {"inline tables in a multi-line array",
       "tables = [\n  {a.b = 1}, # comment [\n  {c.d = { e.f = 2 }},\n  [[1], [2]],\n]\ndomain = \"keep\"\n"},
      {"quoted keys with dots", "domain = \"keep\"\n[\"q.u.o.t.e.d\"]\n\"x.y\" = 1\n'a.b'.c = 2\n"},
      {"moderately deep keys", "domain = \"keep\"\n[" + repeat("a.", 99) + "a]\n" + repeat("b.", 99) + "b = 1\n"},
      {"50 MB of comments", "domain = \"keep\"\n" + comment_bulk},
      {"byte order mark",
       "\xEF\xBB\xBF"
       "domain = \"keep\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(load(c.text).domain, "keep");
  }
}

TEST_F(ConfigFileTest, MissingOrUnreadableFilesAreSilentlyAbsent) {
  EXPECT_TRUE(is_empty(load_config())) << "no .qel directory";

  home_.make_dir(".qel/config.toml");
  EXPECT_TRUE(is_empty(load_config())) << "a directory at the path";
  std::filesystem::remove(config_path());

  std::filesystem::create_symlink(home_.path() + "/nowhere.toml", config_path());
  EXPECT_TRUE(is_empty(load_config())) << "a dangling symbolic link";
  std::filesystem::remove(config_path());

  ASSERT_EQ(::mkfifo(config_path().c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(is_empty(load_config())) << "a FIFO without a writer";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  std::filesystem::remove(config_path());

  const std::string real = home_.write_file("elsewhere/real.toml", "domain = \"linked\"\n");
  std::filesystem::create_symlink(real, config_path());
  EXPECT_EQ(load_config().domain, "linked") << "a symbolic link to a file";
  std::filesystem::remove(config_path());

  if (::geteuid() != 0) {
    home_.write_file(".qel/config.toml", "domain = \"secret\"\n");
    ::chmod(config_path().c_str(), 0);
    EXPECT_TRUE(is_empty(load_config())) << "a file without read permission";
  }
}

// Set when this binary re-runs itself as a user without a home directory.
constexpr const char* kHomelessChild = "QEL_CONFIG_TEST_HOMELESS_CWD";

TEST(ConfigFileHome, NoHomeAnywhereWarnsAndReadsTheCurrentDirectory) {
  if (const char* cwd = std::getenv(kHomelessChild)) {
    // In the helper process: HOME is empty and the user has no passwd entry.
    std::filesystem::current_path(cwd);
    EXPECT_EQ(load_config().domain, "from-cwd");
    return;
  }
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as a user that has no passwd entry";
  uid_t homeless = 0;
  for (uid_t candidate = 54321; candidate < 54400; ++candidate) {
    if (::getpwuid(candidate) == nullptr) {
      homeless = candidate;
      break;
    }
  }
  if (homeless == 0) GTEST_SKIP() << "no free user id";

  qeltest::TempDir cwd("qel-config-homeless");
  cwd.write_file(".qel/config.toml", "domain = \"from-cwd\"\n");
  for (const char* path : {"", "/.qel", "/.qel/config.toml"}) {
    std::filesystem::permissions(cwd.path() + path,
                                 std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                     std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                     std::filesystem::perms::others_exec);
  }
  qeltest::ServerProcess::Options options;
  options.binary = "setpriv";
  const std::string id = std::to_string(homeless);
  options.args = {"--reuid=" + id,
                  "--regid=" + id,
                  "--clear-groups",
                  "--",
                  std::filesystem::read_symlink("/proc/self/exe").string(),
                  "--gtest_filter=ConfigFileHome.NoHomeAnywhereWarnsAndReadsTheCurrentDirectory"};
  options.env = {{"HOME", ""}, {kHomelessChild, cwd.path()}};
  std::optional<int> status;
  std::string errors;
  try {
    qeltest::ServerProcess child(options);
    status = child.wait_exit(30000);
    errors = child.stderr_text();
    std::string out;
    while (auto line = child.read_line(1000)) out += *line + "\n";
    if (status == 127 || status == 126) GTEST_SKIP() << "cannot run as another user: " << errors;
    EXPECT_EQ(status, 0) << out << errors;
  } catch (const std::exception& error) {
    GTEST_SKIP() << "cannot start setpriv: " << error.what();
  }
  const std::string warning = " WARN qel_core::config: 无法获取用户主目录，配置文件将使用当前目录下的 .qel/\n";
  EXPECT_NE(errors.find(warning), std::string::npos) << errors;
}

}  // namespace
