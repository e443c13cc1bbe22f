#pragma once
// A guard that runs before the TOML parser.
//
// The parser builds and frees nested tables recursively, and nothing in it
// bounds the depth that dotted keys and table headers can reach
// (`a.a.a.a... = 1` with a hundred thousand parts overflows the stack). The
// configuration file is written by another program and may be anything, so
// its key nesting is measured with a cheap scan first.
#include <cstddef>
#include <string_view>

namespace qel::core {

// Deeper than any configuration file that a person or a tool writes, and far
// below the depth at which the parser runs out of stack.
inline constexpr std::size_t kMaxTomlNesting = 512;

// True when no table, inline table or array in `text` sits more than `limit`
// levels below the root. The scan follows TOML's lexical structure (strings,
// comments, headers, keys, values) without validating it; for text the parser
// accepts, it never reports less nesting than the parser would build.
bool toml_nesting_within(std::string_view text, std::size_t limit = kMaxTomlNesting);

}  // namespace qel::core
