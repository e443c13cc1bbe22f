#include "api/http.hpp"

#include <cstdlib>
#include <mutex>
#include <vector>

#include "api/curl_library.hpp"

namespace qel::api {

// What all requests share: the connection, DNS and TLS session caches, and
// idle easy handles (a reused handle keeps its CA store, so a new connection
// does not parse the trust store again).
struct HttpClient::Shared {
  std::string ca_file;  // SSL_CERT_FILE
  std::string ca_dir;   // SSL_CERT_DIR

  std::once_flag started;
  const CurlLibrary* curl = nullptr;
  std::string start_error;
  CURLSH* share = nullptr;
  std::mutex locks[CURL_LOCK_DATA_LAST];

  std::mutex pool_mutex;
  std::vector<CURL*> idle;
  static constexpr std::size_t kMaxIdle = 16;

  ~Shared() {
    if (!curl) return;
    for (CURL* h : idle) curl->easy_cleanup(h);
    if (share) curl->share_cleanup(share);
  }

  // Loads libcurl and sets up the caches on first use.
  bool start();
  CURL* acquire();
  void release(CURL* h);
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

}  // namespace

bool HttpClient::Shared::start() {
  std::call_once(started, [this] {
    auto lib = curl_library();
    if (!lib) {
      start_error = lib.error();
      return;
    }
    CURLSH* sh = (*lib)->share_init();
    if (!sh) {
      start_error = "failed to initialise the connection cache";
      return;
    }
    (*lib)->share_setopt(sh, CURLSHOPT_LOCKFUNC, lock_share);
    (*lib)->share_setopt(sh, CURLSHOPT_UNLOCKFUNC, unlock_share);
    (*lib)->share_setopt(sh, CURLSHOPT_USERDATA, this);
    (*lib)->share_setopt(sh, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    (*lib)->share_setopt(sh, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    (*lib)->share_setopt(sh, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    share = sh;
    curl = *lib;
  });
  return curl != nullptr;
}

CURL* HttpClient::Shared::acquire() {
  {
    std::lock_guard lock(pool_mutex);
    if (!idle.empty()) {
      CURL* h = idle.back();
      idle.pop_back();
      return h;
    }
  }
  return curl->easy_init();
}

void HttpClient::Shared::release(CURL* h) {
  curl->easy_reset(h);
  {
    std::lock_guard lock(pool_mutex);
    if (idle.size() < kMaxIdle) {
      idle.push_back(h);
      return;
    }
  }
  curl->easy_cleanup(h);
}

HttpClient::HttpClient(std::string authorization, std::unique_ptr<Shared> shared)
    : authorization_(std::move(authorization)), shared_(std::move(shared)) {}

HttpClient::~HttpClient() = default;

Result<std::shared_ptr<const HttpClient>, std::string> HttpClient::create(std::string authorization) {
  auto shared = std::make_unique<Shared>();
  // Debian's libcurl ignores these variables by itself; users behind a
  // corporate CA (and our tests) rely on them.
  shared->ca_file = env_or_empty("SSL_CERT_FILE");
  shared->ca_dir = env_or_empty("SSL_CERT_DIR");
  return std::shared_ptr<const HttpClient>(new HttpClient(std::move(authorization), std::move(shared)));
}

Result<HttpResponse, HttpFailure> HttpClient::send(std::string_view method, const std::string& url,
                                                   const std::string* json_body) const {
  if (!shared_->start()) return HttpFailure{shared_->start_error, true};
  const CurlLibrary& curl = *shared_->curl;
  CURL* h = shared_->acquire();
  if (!h) return HttpFailure{"failed to create a request handle", true};
  auto give_back = [this](CURL* used) { shared_->release(used); };
  std::unique_ptr<CURL, decltype(give_back)> handle_guard(h, give_back);

  curl_slist* headers = nullptr;
  headers = curl.slist_append(headers, "accept: application/vnd.qel.api+json");
  if (!authorization_.empty()) headers = curl.slist_append(headers, ("authorization: " + authorization_).c_str());
  if (json_body) headers = curl.slist_append(headers, "content-type: application/json");
  headers = curl.slist_append(headers, "Expect:");  // send bodies at once, never wait for 100-continue
  std::unique_ptr<curl_slist, void (*)(curl_slist*)> header_list(headers, curl.slist_free_all);

  HttpResponse response;
  char error_buffer[CURL_ERROR_SIZE] = {};
  curl.easy_setopt(h, CURLOPT_URL, url.c_str());
  curl.easy_setopt(h, CURLOPT_SHARE, shared_->share);
  curl.easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl.easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl.easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl.easy_setopt(h, CURLOPT_ERRORBUFFER, error_buffer);
  curl.easy_setopt(h, CURLOPT_WRITEFUNCTION, append_body);
  curl.easy_setopt(h, CURLOPT_WRITEDATA, &response.body);
  curl.easy_setopt(h, CURLOPT_HEADERFUNCTION, collect_header);
  curl.easy_setopt(h, CURLOPT_HEADERDATA, &response.trace_id);
  // Follow redirects like a browser would (at most 10); libcurl never carries
  // our authorization header to another host.
  curl.easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl.easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
  curl.easy_setopt(h, CURLOPT_UNRESTRICTED_AUTH, 0L);
  curl.easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl.easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl.easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
  if (!shared_->ca_file.empty()) curl.easy_setopt(h, CURLOPT_CAINFO, shared_->ca_file.c_str());
  if (!shared_->ca_dir.empty()) curl.easy_setopt(h, CURLOPT_CAPATH, shared_->ca_dir.c_str());

  if (method == "GET") {
    curl.easy_setopt(h, CURLOPT_HTTPGET, 1L);
  } else if (method == "POST") {
    // A plain POST (not a custom method) so that a 301, 302 or 303 answer is
    // followed with a GET without the body, as browsers do.
    curl.easy_setopt(h, CURLOPT_POST, 1L);
  } else {
    curl.easy_setopt(h, CURLOPT_CUSTOMREQUEST, std::string(method).c_str());
  }
  if (json_body) {
    curl.easy_setopt(h, CURLOPT_POSTFIELDS, json_body->data());
    curl.easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(json_body->size()));
  }

  CURLcode code = curl.easy_perform(h);
  long status = 0;
  curl.easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  if (code != CURLE_OK) {
    std::string message = curl.easy_strerror(code);
    if (error_buffer[0] != '\0') message += std::string(": ") + error_buffer;
    // An answer whose status line and headers arrived is an answer, even if
    // its body then broke off: the caller decides what a lost body means.
    if (status > 0 && code != CURLE_TOO_MANY_REDIRECTS) {
      response.status = static_cast<std::uint16_t>(status);
      response.body_error = std::move(message);
      return response;
    }
    bool invalid = code == CURLE_URL_MALFORMAT || code == CURLE_UNSUPPORTED_PROTOCOL;
    return HttpFailure{std::move(message), invalid};
  }
  response.status = static_cast<std::uint16_t>(status);
  return response;
}

}  // namespace qel::api
