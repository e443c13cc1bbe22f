#pragma once
// The one error type of every platform call; its display text is what a
// failing tool hands back to the assistant.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/result.hpp"

namespace qel::api {

struct ApiError {
  enum class Kind { HttpStatus, Auth, Network, Json, NotFound, InvalidPath };

  Kind kind = Kind::Network;
  std::uint16_t status = 0;             // HttpStatus
  std::string message;                  // body, auth message, cause text, or the refused path value
  std::optional<std::string> trace_id;  // HttpStatus, Auth, NotFound
  std::vector<std::string> causes;      // Network: the HTTP client's error chain

  static ApiError http_status(std::uint16_t status, std::string body, std::optional<std::string> trace_id);
  static ApiError auth(std::string message, std::optional<std::string> trace_id = std::nullopt);
  static ApiError network(std::string cause);
  static ApiError json(std::string decoder_message);
  static ApiError not_found(std::string body, std::optional<std::string> trace_id);
  static ApiError invalid_path(std::string value);

  std::string display() const;
};

template <class T>
using ApiResult = Result<T, ApiError>;

// The fixed message of every 401 answer.
inline constexpr std::string_view kMissingTokenMessage = "QEL_TOKEN 缺失或无效。请设置：export QEL_TOKEN=\"your_token\"";

}  // namespace qel::api
