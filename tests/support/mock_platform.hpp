#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qeltest {

// A scripted stand-in for the QEL REST API: an HTTPS server on 127.0.0.1
// (random free port) presenting a certificate for api.localhost signed by a
// throw-away CA. It records every request exactly as it arrived and answers
// from per-route scripts. Every connection gets its own thread, so delayed
// answers never hold up other requests.
//
//   MockPlatform mock;
//   mock.on("GET", "/g/r", {{.body = R"({"path":"g/r"})"}});
//   ... start the server with --domain mock.domain() and SSL_CERT_FILE=mock.ca_file()
//   EXPECT_EQ(mock.requests().at(0).target, "/g/r");
class MockPlatform {
 public:
  struct Reply {
    // Every member has an initializer so designated initializers can name
    // any subset ({.status = 404, .body = "..."}) without -Wextra warnings.
    int status = 200;
    std::string body{};
    std::vector<std::pair<std::string, std::string>> headers{};
    int delay_ms = 0;  // wait this long before answering (cut short when the mock stops)
    // Close the connection without answering. Note: libcurl sends a request
    // once more, on a new connection, when a connection it reused from its
    // pool closes without any answer; such a drop is then seen twice.
    bool drop = false;
    std::string content_type = "application/json";  // empty: no Content-Type header
    // Send the status, the headers and `body`, but announce a longer body and
    // then close the connection: an answer whose body breaks off.
    bool truncate = false;
  };

  struct RecordedRequest {
    std::string method;
    std::string target;  // raw request target as sent: path, '?', query; nothing decoded
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // names lower-cased

    // Path part of the target (before any '?'), still raw.
    std::string path() const;
    // Query part of the target (after the first '?'), still raw; empty if none.
    std::string query() const;
    // First value of the header, matched without regard to case; "" if absent.
    std::string header(std::string_view name) const;
    bool has_header(std::string_view name) const;
    std::size_t header_count(std::string_view name) const;
  };

  MockPlatform();
  ~MockPlatform();
  MockPlatform(const MockPlatform&) = delete;
  MockPlatform& operator=(const MockPlatform&) = delete;

  int port() const;
  std::string domain() const;    // "localhost:<port>", what --domain takes
  std::string base_url() const;  // "https://api.localhost:<port>"
  std::string ca_file() const;   // PEM of the CA that signed the certificate

  // Scripts the answers to `method` on `path`. The path is compared with the
  // raw target up to its '?', byte for byte. Each request takes the next
  // reply; the last one keeps repeating. Replaces an earlier script for the
  // same route and starts it from the top; an empty list removes the route.
  void on(std::string method, std::string path, std::vector<Reply> replies);
  // Fallback script for every request that no route matches. Without one,
  // such requests get 404 with the body "mock: no route".
  void on_any(std::vector<Reply> replies);

  // Snapshot of the requests seen so far, in arrival order. A request is
  // recorded when it arrives, before any scripted delay.
  std::vector<RecordedRequest> requests() const;
  // Forgets the recorded requests (the scripts stay).
  void clear();
  // Waits until at least `n` requests are recorded; false on time-out.
  bool wait_for_requests(std::size_t n, int timeout_ms) const;

 private:
  struct State;
  class Server;
  std::shared_ptr<State> state_;
  std::unique_ptr<Server> server_;
};

}  // namespace qeltest
