#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "temp_dir.hpp"

namespace qeltest {

class MockPlatform;

// The server binary running as a child process, its stdin, stdout and
// stderr on pipes. Both output pipes are drained continuously by a
// background thread, so the child never blocks on a full pipe however the
// test reads. The destructor kills (SIGKILL) and reaps a child still running.
class ServerProcess {
 public:
  struct Options {
    std::vector<std::string> args;
    // With clean_env the child's environment is only PATH, the sanitizer
    // settings of the test's own environment (ASAN_OPTIONS ...) and these
    // entries, so no real QEL_TOKEN, HOME or QEL_DOMAIN can leak in.
    // Without it, these entries are added to the test's environment.
    std::map<std::string, std::string> env;
    bool clean_env = true;
    // The program; empty means the server binary this suite was built with.
    std::string binary;
    // Kept alive as long as the process; home_dir() reports it.
    std::shared_ptr<TempDir> home;
  };

  // Arguments and environment for a server that talks to `mock`:
  // --domain <mock.domain()>, SSL_CERT_FILE=<mock CA>, HOME=<fresh temporary
  // directory>, QEL_TOKEN=<token> (left out when the token is empty). Fill
  // the HOME through options.home->write_file() before starting the process.
  static Options for_mock(const MockPlatform& mock, std::string token = "test-token");

  explicit ServerProcess(Options options);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  pid_t pid() const { return pid_; }

  // Write to the child's stdin; throw std::runtime_error if the child does
  // not take the bytes within 10 s or its stdin is closed.
  void send(std::string_view line);  // appends "\n"
  void send_raw(std::string_view bytes);
  void close_stdin();

  // Next line of stdout without its "\n"; nullopt on time-out, or at end of
  // output (a last line without "\n" is not returned).
  std::optional<std::string> read_line(int timeout_ms = 10000);

  // Exit status, or 128 + signal number; nullopt if the child is still
  // running after the time-out.
  std::optional<int> wait_exit(int timeout_ms = 10000);
  void kill(int signal);

  // Everything the child wrote to stderr so far.
  std::string stderr_text() const;

  // HOME of the child: options.home if set, else options.env["HOME"].
  std::string home_dir() const;

 private:
  void pump_output();
  void write_all(std::string_view bytes);

  Options options_;
  pid_t pid_ = -1;
  std::optional<int> exit_status_;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  int stderr_fd_ = -1;

  mutable std::mutex mutex_;
  std::condition_variable output_changed_;
  std::string stdout_buffer_;  // received, not yet returned by read_line
  std::string stderr_text_;
  bool stdout_closed_ = false;
  bool stderr_closed_ = false;
  bool stopping_ = false;
  std::thread pump_;
};

}  // namespace qeltest
