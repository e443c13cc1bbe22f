// The user's default macOS keychain, through the Security framework's
// generic-password calls. Read-only: items are never added, changed or
// deleted here.
#if defined(__APPLE__)

#include <CoreFoundation/CoreFoundation.h>
#include <Security/Security.h>

#include <string>
#include <vector>

#include "core/keychain.hpp"

// The SecKeychain calls are deprecated but remain the way to read the items
// that the command-line tool writes into the legacy keychain.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace qel::core {
namespace {

std::string status_text(OSStatus status) {
  std::string text = "keychain error " + std::to_string(static_cast<long>(status));
  CFStringRef message = SecCopyErrorMessageString(status, nullptr);
  if (message == nullptr) return text;
  const CFIndex capacity = CFStringGetMaximumSizeForEncoding(CFStringGetLength(message), kCFStringEncodingUTF8) + 1;
  std::vector<char> buffer(static_cast<std::size_t>(capacity));
  if (CFStringGetCString(message, buffer.data(), capacity, kCFStringEncodingUTF8)) text = buffer.data();
  CFRelease(message);
  return text;
}

}  // namespace

std::string_view system_keychain_kind() {
  return "macos";
}

KeychainAnswer system_keychain_find(const std::string& service, const std::string& account) {
  SecKeychainRef keychain = nullptr;
  OSStatus status = SecKeychainCopyDomainDefault(kSecPreferencesDomainUser, &keychain);
  if (status != errSecSuccess) return {KeychainAnswer::Status::Failed, status_text(status)};

  UInt32 length = 0;
  void* data = nullptr;
  status = SecKeychainFindGenericPassword(keychain, static_cast<UInt32>(service.size()), service.data(),
                                          static_cast<UInt32>(account.size()), account.data(), &length, &data, nullptr);
  KeychainAnswer answer;
  if (status == errSecSuccess) {
    answer.status = KeychainAnswer::Status::Found;
    if (data != nullptr) {
      answer.text.assign(static_cast<const char*>(data), length);
      SecKeychainItemFreeContent(nullptr, data);
    }
  } else if (status == errSecItemNotFound) {
    answer = {KeychainAnswer::Status::NotFound, {}};
  } else {
    answer = {KeychainAnswer::Status::Failed, status_text(status)};
  }
  if (keychain != nullptr) CFRelease(keychain);
  return answer;
}

}  // namespace qel::core

#pragma GCC diagnostic pop

#endif
