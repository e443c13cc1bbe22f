#pragma once
// UTF-8 validation for text that reaches us as raw bytes: the configuration
// file, environment variables and keychain items.
#include <string_view>

namespace qel::core {

// True when `bytes` is well-formed UTF-8: shortest-form sequences only, no
// UTF-16 surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view bytes);

}  // namespace qel::core
