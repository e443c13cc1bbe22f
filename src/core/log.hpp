#pragma once
// Log lines on standard error, one per event:
//   2026-12-09T19:12:37.123456Z  INFO qelkit_mcp: message
// While the MCP service runs, events carry the service span's name between
// the level and the target ("... WARN serve_inner: qel_api::client: ...").
#include <string_view>

namespace qel::log {

enum class Level { Info, Warn, Error };

void write(Level level, std::string_view target, std::string_view message);
inline void info(std::string_view target, std::string_view message) { write(Level::Info, target, message); }
inline void warn(std::string_view target, std::string_view message) { write(Level::Warn, target, message); }

// Marks the start of the MCP service: later events fall inside its span.
void enter_service_span();

}  // namespace qel::log
