#include "core/config_file.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <utility>
#include <vector>

#include "core/config_nesting.hpp"
#include "core/config_utf8.hpp"
#include "core/log.hpp"

namespace qel::core {
namespace {

constexpr std::string_view kLogTarget = "qel_core::config";
constexpr std::string_view kNoHomeWarning = "无法获取用户主目录，配置文件将使用当前目录下的 .qel/";

// A configuration file is a few kilobytes. Anything beyond this is not one,
// and reading it whole would only cost memory.
constexpr off_t kMaxConfigBytes = 64 * 1024 * 1024;

std::optional<std::string> user_database_home() {
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::size_t size = suggested > 0 ? static_cast<std::size_t>(suggested) : 16384;
  for (int attempt = 0; attempt < 8; ++attempt, size *= 2) {
    std::vector<char> buffer(size);
    passwd entry{};
    passwd* found = nullptr;
    const int rc = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE) continue;
    if (rc != 0 || found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] == '\0') return std::nullopt;
    return std::string(found->pw_dir);
  }
  return std::nullopt;
}

std::optional<std::string> home_directory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return std::string(home);
  return user_database_home();
}

// The whole file, or nothing when it is absent, not a regular file, too
// large or unreadable. Opened non-blocking so that a FIFO placed at the path
// cannot hold up start-up.
std::optional<std::string> read_config_bytes(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> result;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxConfigBytes) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[65536];
    bool failed = false;
    while (true) {
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR) continue;
        failed = true;
        break;
      }
      bytes.append(chunk, static_cast<std::size_t>(n));
      if (bytes.size() > static_cast<std::size_t>(kMaxConfigBytes)) {
        failed = true;
        break;
      }
    }
    if (!failed) result = std::move(bytes);
  }
  ::close(fd);
  return result;
}

// ---- decoding the parsed document into ConfigFile --------------------------
// Each decoder returns false on the first fault; the caller then drops the
// whole file. Keys a record does not list are skipped.

bool decode_string(const toml::node& node, std::optional<std::string>& out) {
  const auto* text = node.as_string();
  if (text == nullptr) return false;
  out = text->get();
  return true;
}

bool decode_storage(const toml::node& node, TokenStorage& out) {
  const auto* text = node.as_string();
  if (text == nullptr) return false;
  if (text->get() == "keyring") {
    out = TokenStorage::Keyring;
  } else if (text->get() == "config") {
    out = TokenStorage::Config;
  } else {
    return false;
  }
  return true;
}

bool decode_user(const toml::node& node, UserAuth& out) {
  const auto* table = node.as_table();
  if (table == nullptr) return false;
  bool has_storage = false;
  for (auto&& [key, value] : *table) {
    if (key.str() == "token") {
      if (!decode_string(value, out.token)) return false;
    } else if (key.str() == "storage") {
      if (!decode_storage(value, out.storage)) return false;
      has_storage = true;
    }
  }
  return has_storage;
}

bool decode_users(const toml::node& node, std::map<std::string, UserAuth>& out) {
  const auto* table = node.as_table();
  if (table == nullptr) return false;
  for (auto&& [name, value] : *table) {
    UserAuth user;
    if (!decode_user(value, user)) return false;
    out.emplace(std::string(name.str()), std::move(user));
  }
  return true;
}

bool decode_host(const toml::node& node, HostAuth& out) {
  const auto* table = node.as_table();
  if (table == nullptr) return false;
  for (auto&& [key, value] : *table) {
    const std::string_view name = key.str();
    bool ok = true;
    if (name == "user") {
      ok = decode_string(value, out.user);
    } else if (name == "users") {
      ok = decode_users(value, out.users);
    } else if (name == "token") {
      ok = decode_string(value, out.token);
    } else if (name == "username") {
      ok = decode_string(value, out.username);
    }
    if (!ok) return false;
  }
  return true;
}

bool decode_auth(const toml::node& node, std::map<std::string, HostAuth>& out) {
  const auto* table = node.as_table();
  if (table == nullptr) return false;
  for (auto&& [host, value] : *table) {
    HostAuth entry;
    if (!decode_host(value, entry)) return false;
    out.emplace(std::string(host.str()), std::move(entry));
  }
  return true;
}

bool decode_templates(const toml::node& node, std::optional<TemplatesConfig>& out) {
  const auto* table = node.as_table();
  if (table == nullptr) return false;
  TemplatesConfig templates;
  for (auto&& [key, value] : *table) {
    bool ok = true;
    if (key.str() == "gitignore_repo") {
      ok = decode_string(value, templates.gitignore_repo);
    } else if (key.str() == "license_repo") {
      ok = decode_string(value, templates.license_repo);
    }
    if (!ok) return false;
  }
  out = std::move(templates);
  return true;
}

bool decode_aliases(const toml::node& node, std::map<std::string, std::string>& out) {
  const auto* table = node.as_table();
  if (table == nullptr) return false;
  for (auto&& [name, value] : *table) {
    const auto* text = value.as_string();
    if (text == nullptr) return false;
    out.emplace(std::string(name.str()), text->get());
  }
  return true;
}

bool decode_config(const toml::table& root, ConfigFile& out) {
  for (auto&& [key, value] : root) {
    const std::string_view name = key.str();
    bool ok = true;
    if (name == "domain") {
      ok = decode_string(value, out.domain);
    } else if (name == "git_protocol") {
      ok = decode_string(value, out.git_protocol);
    } else if (name == "auth") {
      ok = decode_auth(value, out.auth);
    } else if (name == "templates") {
      ok = decode_templates(value, out.templates);
    } else if (name == "aliases") {
      ok = decode_aliases(value, out.aliases);
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace

ConfigFile parse_config(std::string_view toml_text) {
  if (!is_valid_utf8(toml_text) || !toml_nesting_within(toml_text)) return {};
  try {
#if TOML_EXCEPTIONS
    const toml::table root = toml::parse(toml_text);
#else
    const toml::parse_result parsed = toml::parse(toml_text);
    if (!parsed) return {};
    const toml::table& root = parsed.table();
#endif
    ConfigFile config;
    if (!decode_config(root, config)) return {};
    return config;
  } catch (...) {
    // Parse errors, and allocation failures on absurd input: either way the
    // file is unusable.
    return {};
  }
}

ConfigFile load_config() {
  std::optional<std::string> home = home_directory();
  if (!home) {
    log::warn(kLogTarget, kNoHomeWarning);
    home = ".";
  }
  try {
    const std::filesystem::path path = std::filesystem::path(*home) / ".qel" / "config.toml";
    const std::optional<std::string> bytes = read_config_bytes(path);
    if (!bytes) return {};
    return parse_config(*bytes);
  } catch (...) {
    return {};
  }
}

}  // namespace qel::core
