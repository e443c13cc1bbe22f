#include "api/error.hpp"

#include <fmt/format.h>

namespace qel::api {
namespace {

std::string trace_suffix(const std::optional<std::string>& trace_id) {
  return trace_id ? "\ntrace_id: " + *trace_id : std::string();
}

}  // namespace

ApiError ApiError::http_status(std::uint16_t status, std::string body, std::optional<std::string> trace_id) {
  return {Kind::HttpStatus, status, std::move(body), std::move(trace_id), {}};
}
ApiError ApiError::auth(std::string message, std::optional<std::string> trace_id) {
  return {Kind::Auth, 0, std::move(message), std::move(trace_id), {}};
}
ApiError ApiError::network(std::string cause) { return {Kind::Network, 0, cause, std::nullopt, {cause}}; }
ApiError ApiError::json(std::string decoder_message) {
  return {Kind::Json, 0, std::move(decoder_message), std::nullopt, {}};
}
ApiError ApiError::not_found(std::string body, std::optional<std::string> trace_id) {
  return {Kind::NotFound, 404, std::move(body), std::move(trace_id), {}};
}
ApiError ApiError::invalid_path(std::string value) { return {Kind::InvalidPath, 0, std::move(value), std::nullopt, {}}; }

std::string ApiError::display() const {
  switch (kind) {
    case Kind::HttpStatus: return fmt::format("API 请求失败 (HTTP {}): {}", status, message) + trace_suffix(trace_id);
    case Kind::Auth: return "认证失败：" + message + trace_suffix(trace_id);
    case Kind::Network: return "网络错误：" + message;
    case Kind::Json: return "JSON 解析错误：" + message;
    case Kind::NotFound: return message + trace_suffix(trace_id);
    case Kind::InvalidPath:
      // A "." or ".." segment would let URL parsing climb out of the
      // endpoint's path (a label named "../.." would address the repository).
      return "路径参数不能包含 . 或 .. 路径段：" + message;
  }
  return message;
}

}  // namespace qel::api
