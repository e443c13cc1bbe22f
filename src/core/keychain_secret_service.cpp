// The freedesktop Secret Service (GNOME Keyring, KWallet, KeePassXC ...)
// through libsecret. Items are matched on the two attributes `service` and
// `username`, whatever schema the program that stored them declared.
#if !defined(__APPLE__) && defined(QEL_HAVE_LIBSECRET)

#include <libsecret/secret.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "core/keychain.hpp"

namespace qel::core {
namespace {

// DONT_MATCH_NAME: items written by other tools carry their own schema name
// (or none); only the attributes matter.
const SecretSchema kGenericPasswordSchema = {
    .name = "org.qel.qelkit.GenericPassword",
    .flags = SECRET_SCHEMA_DONT_MATCH_NAME,
    .attributes = {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING}, {"username", SECRET_SCHEMA_ATTRIBUTE_STRING}},
};

KeychainAnswer failed(std::string text) {
  return {KeychainAnswer::Status::Failed, std::move(text)};
}

KeychainAnswer failed(GError* error, const char* fallback) {
  std::string text = error != nullptr && error->message != nullptr ? error->message : fallback;
  if (error != nullptr) g_error_free(error);
  return failed(std::move(text));
}

KeychainAnswer read_item(SecretItem* item) {
  // Locked items are reported, never unlocked: unlocking would ask the user
  // through a prompt, and start-up must not wait on a person.
  if (secret_item_get_locked(item)) return failed("Secret Service 中的条目已锁定");
  SecretValue* value = secret_item_get_secret(item);
  if (value == nullptr) return failed("无法读取 Secret Service 中的条目");
  gsize length = 0;
  const gchar* data = secret_value_get(value, &length);
  KeychainAnswer answer{KeychainAnswer::Status::Found,
                        std::string(data != nullptr ? data : "", data != nullptr ? length : 0)};
  secret_value_unref(value);
  return answer;
}

// Without a session bus GDBus would autolaunch one through dbus-launch, and
// that daemon would outlive this process. Only a bus that already exists is
// used: the address in the environment or the per-user socket in the
// runtime directory, the two places GDBus itself looks first.
bool session_bus_exists() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address != nullptr && address[0] != '\0') {
    return true;
  }
  gchar* socket = g_build_filename(g_get_user_runtime_dir(), "bus", nullptr);
  struct stat info {};
  const bool exists = ::stat(socket, &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == ::getuid();
  g_free(socket);
  return exists;
}

}  // namespace

std::string_view system_keychain_kind() {
  return "secret-service";
}

KeychainAnswer system_keychain_find(const std::string& service, const std::string& account) {
  if (!session_bus_exists()) return failed("没有可用的 D-Bus 会话总线");
  GError* error = nullptr;
  SecretService* secrets = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
  if (secrets == nullptr) return failed(error, "无法连接 Secret Service");

  GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
  g_hash_table_insert(attributes, const_cast<char*>("service"), const_cast<char*>(service.c_str()));
  g_hash_table_insert(attributes, const_cast<char*>("username"), const_cast<char*>(account.c_str()));
  // Without SECRET_SEARCH_UNLOCK the search never prompts; unlocked matches
  // come first, so a locked duplicate does not hide a readable item.
  GList* items = secret_service_search_sync(secrets, &kGenericPasswordSchema, attributes, SECRET_SEARCH_LOAD_SECRETS,
                                            nullptr, &error);
  g_hash_table_unref(attributes);

  KeychainAnswer answer;
  if (error != nullptr) {
    answer = failed(error, "Secret Service 查询失败");
  } else if (items == nullptr) {
    answer = {KeychainAnswer::Status::NotFound, {}};
  } else {
    answer = read_item(static_cast<SecretItem*>(items->data));
  }
  g_list_free_full(items, g_object_unref);
  g_object_unref(secrets);
  return answer;
}

}  // namespace qel::core

#endif
