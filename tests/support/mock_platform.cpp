#include "mock_platform.hpp"

#include <httplib.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "ignore_sigpipe.hpp"
#include "test_certificates.hpp"

namespace qeltest {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && lower(a) == lower(b);
}

// cpp-httplib adds these to every request; the client never sent them.
bool is_address_header(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

// The headers of the request being handled on this thread, as the client
// sent them: the pre-routing handler takes them before it adjusts the
// request, and the route handler, which runs next on the same thread,
// records them.
thread_local std::vector<std::pair<std::string, std::string>> received_headers;

// Prepares a request for cpp-httplib 0.11, which otherwise mishandles two
// kinds of valid requests:
// - one without Content-Length or Transfer-Encoding has no body, but a POST,
//   PUT or PATCH without them is read until the connection closes and
//   answered 400 after the read time-out: give it an explicit empty length;
// - a form-encoded body over 8 KiB is refused with 413 while its parameters
//   are parsed: hide the form type (the mock never needs the parameters).
// The Request is const only in this handler's signature; the server owns it.
httplib::Server::HandlerResponse prepare_request(const httplib::Request& req, httplib::Response&) {
  received_headers.clear();
  for (const auto& [name, value] : req.headers) {
    if (!is_address_header(name)) received_headers.emplace_back(lower(name), value);
  }
  auto& adjusted = const_cast<httplib::Request&>(req);
  if (!req.has_header("Content-Length") && !req.has_header("Transfer-Encoding")) {
    adjusted.set_header("Content-Length", "0");
  }
  if (lower(req.get_header_value("Content-Type")).find("x-www-form-urlencoded") != std::string::npos) {
    adjusted.headers.erase("Content-Type");
  }
  return httplib::Server::HandlerResponse::Unhandled;
}

std::string path_of(std::string_view target) {
  return std::string(target.substr(0, target.find('?')));
}

// cpp-httplib runs each connection on a task of its queue and keeps it for
// the whole keep-alive session. A fixed pool would let idle pooled
// connections of the client starve new ones, so every connection gets its
// own thread; finished threads are joined as new ones start.
class ThreadPerConnection : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override {
    std::lock_guard lock(mutex_);
    reap_finished();
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.push_back({std::thread([fn = std::move(fn), done] {
                          fn();
                          done->store(true);
                        }),
                        done});
  }

  void shutdown() override {
    std::list<Worker> workers;
    {
      std::lock_guard lock(mutex_);
      workers.swap(workers_);
    }
    for (Worker& worker : workers) worker.thread.join();
  }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  void reap_finished() {
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (it->done->load()) {
        it->thread.join();
        it = workers_.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::mutex mutex_;
  std::list<Worker> workers_;
};

}  // namespace

std::string MockPlatform::RecordedRequest::path() const {
  return path_of(target);
}

std::string MockPlatform::RecordedRequest::query() const {
  auto mark = target.find('?');
  return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

std::string MockPlatform::RecordedRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (iequals(key, name)) return value;
  }
  return {};
}

bool MockPlatform::RecordedRequest::has_header(std::string_view name) const {
  return header_count(name) > 0;
}

std::size_t MockPlatform::RecordedRequest::header_count(std::string_view name) const {
  return static_cast<std::size_t>(
      std::count_if(headers.begin(), headers.end(), [&](const auto& h) { return iequals(h.first, name); }));
}

// What the handlers share with the test thread. Handlers hold it by
// shared_ptr so a late connection thread never touches a dead object.
struct MockPlatform::State {
  struct Script {
    std::vector<Reply> replies;
    std::size_t served = 0;

    Reply next() {
      Reply reply = replies[std::min(served, replies.size() - 1)];
      ++served;
      return reply;
    }
  };

  mutable std::mutex mutex;
  mutable std::condition_variable changed;  // a request arrived or the mock is stopping
  std::map<std::pair<std::string, std::string>, Script> routes;
  Script fallback;
  std::vector<RecordedRequest> requests;
  bool stopping = false;

  Reply next_reply(const std::string& method, const std::string& path) {
    std::lock_guard lock(mutex);
    auto route = routes.find({method, path});
    if (route != routes.end()) return route->second.next();
    if (!fallback.replies.empty()) return fallback.next();
    return Reply{404, "mock: no route", {}, 0, false, "text/plain"};
  }

  void record(const httplib::Request& req) {
    RecordedRequest recorded{req.method, req.target, req.body, std::move(received_headers)};
    received_headers.clear();
    {
      std::lock_guard lock(mutex);
      requests.push_back(std::move(recorded));
    }
    changed.notify_all();
  }

  // Sleeps for the scripted delay unless the mock stops first.
  void delay(int ms) {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
  }

  void handle(const httplib::Request& req, httplib::Response& res) {
    record(req);
    Reply reply = next_reply(req.method, path_of(req.target));
    if (reply.delay_ms > 0) delay(reply.delay_ms);
    if (reply.drop) {
      // cpp-httplib still tries to write the response; on a shut-down
      // socket that fails and the connection is closed unanswered.
      if (req.ssl) ::shutdown(SSL_get_fd(req.ssl), SHUT_RDWR);
      return;
    }
    res.status = reply.status;
    if (reply.truncate) {
      auto sent = std::make_shared<std::string>(std::move(reply.body));
      res.set_content_provider(sent->size() + 64, reply.content_type,
                               [sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 if (offset < sent->size()) sink.write(sent->data() + offset, sent->size() - offset);
                                 return offset < sent->size();  // false: give up, the connection closes
                               });
    } else {
      res.body = std::move(reply.body);
    }
    if (!reply.content_type.empty()) res.set_header("Content-Type", reply.content_type);
    for (const auto& [name, value] : reply.headers) {
      if (iequals(name, "content-type")) res.headers.erase("Content-Type");
      res.headers.emplace(name, value);
    }
  }
};

class MockPlatform::Server {
 public:
  explicit Server(std::shared_ptr<State> state)
      : state_(std::move(state)), server_(test_certificates().cert_file.c_str(), test_certificates().key_file.c_str()) {
    if (!server_.is_valid()) throw std::runtime_error("mock platform: TLS setup failed");
    server_.new_task_queue = [] { return new ThreadPerConnection; };
    server_.set_tcp_nodelay(true);
    server_.set_keep_alive_max_count(100000);
    // An idle kept-alive connection only notices that the server stopped
    // when its keep-alive time runs out, so this bounds how long stopping
    // can take. A client that finds its pooled connection closed simply
    // opens a new one (libcurl re-sends on a fresh connection).
    server_.set_keep_alive_timeout(1);
    server_.set_payload_max_length(std::size_t{1} << 30);  // Debian's build caps it lower
    server_.set_pre_routing_handler(prepare_request);
    server_.set_socket_options([this](socket_t sock) {
      httplib::default_socket_options(sock);
      listen_fd_ = sock;
    });

    // A regex that matches any path, line breaks included: the route table
    // decides, on the raw target, what each request gets.
    const std::string any = "[\\s\\S]*";
    auto handler = [state = state_](const httplib::Request& req, httplib::Response& res) { state->handle(req, res); };
    server_.Get(any, handler);
    server_.Post(any, handler);
    server_.Put(any, handler);
    server_.Patch(any, handler);
    server_.Delete(any, handler);
    server_.Options(any, handler);

    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("mock platform: cannot bind 127.0.0.1");
    // cpp-httplib listens with a backlog of 5; bursts of parallel tool
    // calls would overflow it and stall in SYN retransmits.
    if (listen_fd_ >= 0) ::listen(listen_fd_, SOMAXCONN);
    thread_ = std::thread([this] {
      server_.listen_after_bind();
      finished_.store(true);
    });
    // Until the listen thread marks the server running, stop() is a no-op.
    for (int round = 0; round < 5000 && !server_.is_running() && !finished_.load(); ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (finished_.load()) {
      thread_.join();
      throw std::runtime_error("mock platform: server did not start");
    }
  }

  ~Server() {
    {
      std::lock_guard lock(state_->mutex);
      state_->stopping = true;
    }
    state_->changed.notify_all();
    // stop() closes the listener; the listen thread then leaves its accept
    // loop and joins the connection threads, which end after their current
    // reply or, when idle, within the keep-alive time. stop() is repeated
    // because it does nothing while the listen thread has not yet marked
    // the server running.
    for (int round = 0; round < 1000 && !finished_.load(); ++round) {
      server_.stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    thread_.join();
  }

  int port() const { return port_; }

 private:
  std::shared_ptr<State> state_;
  httplib::SSLServer server_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

MockPlatform::MockPlatform() : state_(std::make_shared<State>()) {
  ignore_sigpipe();
  server_ = std::make_unique<Server>(state_);
}

MockPlatform::~MockPlatform() = default;

int MockPlatform::port() const {
  return server_->port();
}

std::string MockPlatform::domain() const {
  return "localhost:" + std::to_string(port());
}

std::string MockPlatform::base_url() const {
  return "https://api.localhost:" + std::to_string(port());
}

std::string MockPlatform::ca_file() const {
  return test_certificates().ca_file;
}

void MockPlatform::on(std::string method, std::string path, std::vector<Reply> replies) {
  std::lock_guard lock(state_->mutex);
  auto key = std::make_pair(std::move(method), std::move(path));
  if (replies.empty()) {
    state_->routes.erase(key);
  } else {
    state_->routes[std::move(key)] = State::Script{std::move(replies), 0};
  }
}

void MockPlatform::on_any(std::vector<Reply> replies) {
  std::lock_guard lock(state_->mutex);
  state_->fallback = State::Script{std::move(replies), 0};
}

std::vector<MockPlatform::RecordedRequest> MockPlatform::requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests;
}

void MockPlatform::clear() {
  std::lock_guard lock(state_->mutex);
  state_->requests.clear();
}

bool MockPlatform::wait_for_requests(std::size_t n, int timeout_ms) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                  [&] { return state_->requests.size() >= n; });
}

}  // namespace qeltest
