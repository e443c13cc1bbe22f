#include "api/client.hpp"

#include <chrono>
#include <thread>

#include <fmt/format.h>

#include "core/log.hpp"

namespace qel::api {
namespace {

constexpr int kRetryDelaysMs[] = {100, 500, 1000};

bool valid_header_value(std::string_view value) {
  for (char c : value) {
    auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && u != '\t') || u == 0x7F) return false;
  }
  return true;
}

}  // namespace

ApiResult<ApiClient> ApiClient::create(std::string_view domain, std::string_view token) {
  std::string base = fmt::format("{}://api.{}", "https", domain);
  while (!base.empty() && base.back() == '/') base.pop_back();
  std::string authorization;
  if (!token.empty()) {
    authorization = "Bearer " + std::string(token);
    if (!valid_header_value(authorization)) return ApiError::auth("failed to parse header value");
  }
  auto http = HttpClient::create(std::move(authorization));
  if (!http) return ApiError::network(http.error());
  return ApiClient(std::move(base), std::move(*http));
}

ApiResult<HttpResponse> ApiClient::send_with_retries(const std::string& url) const {
  for (int attempt = 0;; ++attempt) {
    if (attempt > 0) {
      int delay = kRetryDelaysMs[attempt - 1];
      log::warn("qel_api::client", fmt::format("请求失败，{}ms 后第 {} 次重试...", delay, attempt));
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    auto response = http_->send("GET", url, nullptr);
    bool last = attempt == 3;
    if (!response) {
      if (!last && !response.error().request_invalid) continue;
      return ApiError::network(response.error().message);
    }
    if (response->status >= 500 && !last) continue;
    return std::move(*response);
  }
}

ApiResult<HttpResponse> ApiClient::send_once(std::string_view method, const std::string& url,
                                             const std::string* json_body) const {
  auto response = http_->send(method, url, json_body);
  if (!response) return ApiError::network(response.error().message);
  return std::move(*response);
}

ApiError ApiClient::map_status(const HttpResponse& response) const {
  if (response.status == 401) return ApiError::auth(std::string(kMissingTokenMessage), response.trace_id);
  // A body that broke off reads as the empty text.
  std::string body = response.body_error ? std::string() : json::utf8_lossy(response.body);
  if (response.status == 404) return ApiError::not_found(std::move(body), response.trace_id);
  return ApiError::http_status(response.status, std::move(body), response.trace_id);
}

ApiResult<std::string> ApiClient::get_text(const PathText& path) const {
  if (!path) return path.error();
  auto response = send_with_retries(make_url(base_, *path, {}));
  if (!response) return std::move(response).error();
  if (response->status < 200 || response->status > 299) return map_status(*response);
  if (response->body_error) return ApiError::network(*response->body_error);
  return json::utf8_lossy(response->body);
}

}  // namespace qel::api
