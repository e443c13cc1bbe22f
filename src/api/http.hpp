#pragma once
// HTTPS transport over libcurl: one connection cache, DNS cache and TLS
// session cache for the whole process, shared by every concurrent call; each
// call runs on its own easy handle.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.hpp"

namespace qel::api {

struct HttpResponse {
  std::uint16_t status = 0;
  std::string body;
  std::optional<std::string> trace_id;  // the x-trace-id header, when it is printable ASCII
  // Set when the status and headers arrived but the body broke off; `body`
  // then holds only what came before the break.
  std::optional<std::string> body_error;
};

struct HttpFailure {
  std::string message;
  bool request_invalid = false;  // the request could not be formed at all: never worth retrying
};

class HttpClient {
 public:
  // `authorization` is the full header value, or empty for none.
  static Result<std::shared_ptr<const HttpClient>, std::string> create(std::string authorization);
  ~HttpClient();

  Result<HttpResponse, HttpFailure> send(std::string_view method, const std::string& url,
                                         const std::string* json_body) const;

  struct Shared;

 private:
  explicit HttpClient(std::string authorization, std::unique_ptr<Shared> shared);
  std::string authorization_;
  std::unique_ptr<Shared> shared_;
};

}  // namespace qel::api
