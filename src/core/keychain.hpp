#pragma once
// Read-only access to the system's store of generic-password items, addressed
// by service and account: the macOS keychain, or the freedesktop Secret
// Service on Linux.
//
// A store may block (a locked keychain, a D-Bus peer that never answers), so
// every lookup runs on a thread of its own and start-up waits for it at most
// three seconds.
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace qel::core {

// What a store answers for one item.
struct KeychainAnswer {
  enum class Status { Found, NotFound, Failed };
  Status status = Status::NotFound;
  std::string text;  // Found: the item's data. Failed: the store's own error text.
};

// One lookup in a store. Called on the lookup thread; it may block, and it
// may throw (the lookup then reports an abnormal end).
using KeychainBackend = std::function<KeychainAnswer(const std::string& service, const std::string& account)>;

// The store of this system: the keychain on macOS, the Secret Service on
// Linux, and otherwise a store that always fails.
KeychainAnswer system_keychain_find(const std::string& service, const std::string& account);

// Which store system_keychain_find talks to: "macos", "secret-service" or "none".
std::string_view system_keychain_kind();

inline constexpr std::chrono::milliseconds kKeychainTimeout{3000};

inline constexpr std::string_view kKeychainNotFound = "keyring 中未找到对应 token";
inline constexpr std::string_view kKeychainTimedOut = "访问 keyring 超时";
inline constexpr std::string_view kKeychainAborted = "keyring 调用异常中断";
inline constexpr std::string_view kKeychainNotUtf8 = "keyring 中的数据不是有效的 UTF-8 文本";

// The result of a lookup: the item's text (valid UTF-8), or why there is
// none: kKeychainNotFound, kKeychainTimedOut, kKeychainAborted or the store's
// own error text.
struct KeychainOutcome {
  bool found = false;
  std::string text;
};

// Runs `backend` on a new detached thread and waits until `timeout` has passed
// on the monotonic clock. A lookup that answers late is abandoned: its thread
// finishes on its own and its answer is dropped.
KeychainOutcome keychain_lookup(const std::string& service, const std::string& account,
                                const KeychainBackend& backend = system_keychain_find,
                                std::chrono::milliseconds timeout = kKeychainTimeout);

}  // namespace qel::core
