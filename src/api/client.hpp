#pragma once
// The platform REST client shared by every tool call. Endpoint functions only
// name the method, path, query, body and answer type:
//
//   api.get<std::vector<Issue>>(api.path("{}/-/issues", repo), query_string(q));
//   api.send<IssueDetail>("PATCH", api.path("{}/-/issues/{}", repo, number), body);
//
// GETs are retried on transport failures and 5xx answers (100, 500, 1000 ms);
// every other method is sent once. A 2xx body is decoded into the answer
// type; anything else becomes an ApiError.
#include <memory>
#include <string>
#include <string_view>

#include "api/error.hpp"
#include "api/http.hpp"
#include "api/url.hpp"
#include "json/lenient.hpp"
#include "json/record.hpp"

namespace qel::api {

// An answer whose body is deliberately not decoded.
struct NoBody {};

class ApiClient {
 public:
  static ApiResult<ApiClient> create(std::string_view domain, std::string_view token);

  const std::string& base() const { return base_; }

  template <class... Values>
  PathText path(std::string_view tmpl, const Values&... values) const {
    return fill_path(tmpl, {path_value(values)...});
  }

  template <class T>
  ApiResult<T> get(const PathText& path, std::string_view query = {}) const {
    if (!path) return path.error();
    auto response = send_with_retries(make_url(base_, *path, query));
    if (!response) return std::move(response).error();
    return finish<T>(*response);
  }

  // POST, PUT or PATCH with a JSON body record.
  template <class T, class Body>
  ApiResult<T> send(std::string_view method, const PathText& path, const Body& body) const {
    if (!path) return path.error();
    std::string json_body = json::encode(body);
    auto response = send_once(method, make_url(base_, *path, {}), &json_body);
    if (!response) return std::move(response).error();
    return finish<T>(*response);
  }

  // A request without a body (DELETE).
  template <class T>
  ApiResult<T> send(std::string_view method, const PathText& path) const {
    if (!path) return path.error();
    auto response = send_once(method, make_url(base_, *path, {}), nullptr);
    if (!response) return std::move(response).error();
    return finish<T>(*response);
  }

  // A GET whose 2xx body is plain text (malformed UTF-8 replaced).
  ApiResult<std::string> get_text(const PathText& path) const;

  ApiResult<HttpResponse> send_with_retries(const std::string& url) const;
  ApiResult<HttpResponse> send_once(std::string_view method, const std::string& url,
                                    const std::string* json_body) const;
  ApiError map_status(const HttpResponse& response) const;

  template <class T>
  static ApiResult<T> decode_body(std::string_view body);

 private:
  ApiClient(std::string base, std::shared_ptr<const HttpClient> http) : base_(std::move(base)), http_(std::move(http)) {}

  template <class T>
  ApiResult<T> finish(const HttpResponse& response) const {
    if (response.status < 200 || response.status > 299) return map_status(response);
    if constexpr (std::is_same_v<T, NoBody>) {
      // The body is not read at all, so a broken one does not matter.
      return NoBody{};
    } else {
      if (response.body_error) return ApiError::network(*response.body_error);
      return decode_body<T>(response.body);
    }
  }

  template <class T>
  static ApiResult<T> decode_text(std::string_view text) {
    auto parsed = json::parse(text);
    if (!parsed) return ApiError::json(parsed.error().message);
    auto decoded = json::decode<T>(*parsed);
    if (!decoded) return ApiError::json(decoded.error().text());
    return std::move(*decoded);
  }

  std::string base_;
  std::shared_ptr<const HttpClient> http_;
};

// An empty body reads as null; a body that is just null (blanks around it
// allowed) falls back to an empty list, then an empty object, so list answers
// become [] and all-optional records {}.
template <class T>
ApiResult<T> ApiClient::decode_body(std::string_view body) {
  if (body.empty()) return decode_text<T>("null");
  if (json::trim_unicode(body) == "null") {
    if (auto as_null = decode_text<T>("null")) return as_null;
    if (auto as_list = decode_text<T>("[]")) return as_list;
    return decode_text<T>("{}");
  }
  return decode_text<T>(body);
}

}  // namespace qel::api
