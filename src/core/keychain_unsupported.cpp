// Systems with neither the macOS keychain nor libsecret: there is no store to
// read, so every lookup fails and resolution moves on without a token.
#if !defined(__APPLE__) && !defined(QEL_HAVE_LIBSECRET)

#include "core/keychain.hpp"

namespace qel::core {

std::string_view system_keychain_kind() {
  return "none";
}

KeychainAnswer system_keychain_find(const std::string&, const std::string&) {
  return {KeychainAnswer::Status::Failed, "此系统上没有可用的 keyring"};
}

}  // namespace qel::core

#endif
