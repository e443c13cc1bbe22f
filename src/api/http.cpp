#include "api/http.hpp"

#include <curl/curl.h>

#include <cstdlib>
#include <mutex>

namespace qel::api {

struct HttpClient::Shared {
  CURLSH* share = nullptr;
  std::mutex locks[CURL_LOCK_DATA_LAST];
  std::string ca_file;  // SSL_CERT_FILE
  std::string ca_dir;   // SSL_CERT_DIR

  ~Shared() {
    if (share) curl_share_cleanup(share);
  }
};

namespace {

void lock_share(CURL*, curl_lock_data data, curl_lock_access, void* user) {
  static_cast<HttpClient::Shared*>(user)->locks[data].lock();
}

void unlock_share(CURL*, curl_lock_data data, void* user) {
  static_cast<HttpClient::Shared*>(user)->locks[data].unlock();
}

std::string env_or_empty(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

size_t append_body(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

bool printable_header_value(std::string_view value) {
  for (char c : value) {
    auto u = static_cast<unsigned char>(c);
    if (!(u == '\t' || (u >= 0x20 && u <= 0x7E))) return false;
  }
  return true;
}

// Keeps the trace id of the last response seen (redirects produce several).
size_t collect_header(char* data, size_t size, size_t count, void* user) {
  auto* trace = static_cast<std::optional<std::string>*>(user);
  std::string_view line(data, size * count);
  if (line.substr(0, 5) == "HTTP/") {
    trace->reset();
    return size * count;
  }
  auto colon = line.find(':');
  if (colon == std::string_view::npos) return size * count;
  std::string_view name = line.substr(0, colon);
  static constexpr std::string_view kTrace = "x-trace-id";
  bool match = name.size() == kTrace.size();
  for (size_t i = 0; match && i < name.size(); ++i) {
    match = std::tolower(static_cast<unsigned char>(name[i])) == kTrace[i];
  }
  if (match) {
    std::string_view value = trim(line.substr(colon + 1));
    if (printable_header_value(value)) {
      *trace = std::string(value);
    } else {
      trace->reset();
    }
  }
  return size * count;
}

std::once_flag curl_init_once;

}  // namespace

HttpClient::HttpClient(std::string authorization, std::unique_ptr<Shared> shared)
    : authorization_(std::move(authorization)), shared_(std::move(shared)) {}

HttpClient::~HttpClient() = default;

Result<std::shared_ptr<const HttpClient>, std::string> HttpClient::create(std::string authorization) {
  CURLcode init = CURLE_OK;
  std::call_once(curl_init_once, [&] { init = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (init != CURLE_OK) return std::string(curl_easy_strerror(init));

  auto shared = std::make_unique<Shared>();
  shared->share = curl_share_init();
  if (!shared->share) return std::string("failed to initialise the connection cache");
  curl_share_setopt(shared->share, CURLSHOPT_LOCKFUNC, lock_share);
  curl_share_setopt(shared->share, CURLSHOPT_UNLOCKFUNC, unlock_share);
  curl_share_setopt(shared->share, CURLSHOPT_USERDATA, shared.get());
  curl_share_setopt(shared->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
  curl_share_setopt(shared->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  curl_share_setopt(shared->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  // Debian's libcurl ignores these variables by itself; users behind a
  // corporate CA (and our tests) rely on them.
  shared->ca_file = env_or_empty("SSL_CERT_FILE");
  shared->ca_dir = env_or_empty("SSL_CERT_DIR");
  return std::shared_ptr<const HttpClient>(new HttpClient(std::move(authorization), std::move(shared)));
}

Result<HttpResponse, HttpFailure> HttpClient::send(std::string_view method, const std::string& url,
                                                   const std::string* json_body) const {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), curl_easy_cleanup);
  if (!easy) return HttpFailure{"failed to create a request handle", true};
  CURL* h = easy.get();

  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "accept: application/vnd.qel.api+json");
  if (!authorization_.empty()) headers = curl_slist_append(headers, ("authorization: " + authorization_).c_str());
  if (json_body) headers = curl_slist_append(headers, "content-type: application/json");
  headers = curl_slist_append(headers, "Expect:");  // send bodies at once, never wait for 100-continue
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> header_list(headers, curl_slist_free_all);

  HttpResponse response;
  char error_buffer[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_SHARE, shared_->share);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, append_body);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &response.body);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, collect_header);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &response.trace_id);
  // Follow redirects like a browser would (at most 10); libcurl never carries
  // our authorization header to another host.
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(h, CURLOPT_UNRESTRICTED_AUTH, 0L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
  if (!shared_->ca_file.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, shared_->ca_file.c_str());
  if (!shared_->ca_dir.empty()) curl_easy_setopt(h, CURLOPT_CAPATH, shared_->ca_dir.c_str());

  if (method == "GET") {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, std::string(method).c_str());
  }
  if (json_body) {
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, json_body->data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(json_body->size()));
  }

  CURLcode code = curl_easy_perform(h);
  if (code != CURLE_OK) {
    std::string message = curl_easy_strerror(code);
    if (error_buffer[0] != '\0') message += std::string(": ") + error_buffer;
    bool invalid = code == CURLE_URL_MALFORMAT || code == CURLE_UNSUPPORTED_PROTOCOL;
    return HttpFailure{std::move(message), invalid};
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  response.status = static_cast<std::uint16_t>(status);
  return response;
}

}  // namespace qel::api
