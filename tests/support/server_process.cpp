#include "server_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "ignore_sigpipe.hpp"
#include "mock_platform.hpp"

extern char** environ;

namespace qeltest {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWriteTimeoutMs = 10000;

// Settings of the sanitizer runtimes travel into a clean environment, so a
// sanitized server binary behaves as the test run asked.
constexpr std::array kPassedThrough = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS", "MSAN_OPTIONS"};

std::string default_binary() {
#ifdef QELKIT_MCP_BINARY
  return QELKIT_MCP_BINARY;
#else
  throw std::runtime_error("no server binary: set ServerProcess::Options::binary");
#endif
}

std::map<std::string, std::string> child_environment(const ServerProcess::Options& options) {
  std::map<std::string, std::string> env;
  if (options.clean_env) {
    const char* path = std::getenv("PATH");
    env["PATH"] = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (const char* name : kPassedThrough) {
      if (const char* value = std::getenv(name)) env[name] = value;
    }
  } else {
    for (char** entry = environ; *entry; ++entry) {
      std::string_view text(*entry);
      auto eq = text.find('=');
      if (eq != std::string_view::npos) {
        env[std::string(text.substr(0, eq))] = std::string(text.substr(eq + 1));
      }
    }
  }
  for (const auto& [name, value] : options.env) env[name] = value;
  return env;
}

struct Pipe {
  int read = -1;
  int write = -1;
};

Pipe make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  return {fds[0], fds[1]};
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

int decode_status(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Starts `argv` with its stdio on the three pipes. Signals the test run
// ignores (SIGPIPE above all) are set back to their defaults in the child.
pid_t spawn(const std::string& binary, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, const Pipe& in, const Pipe& out, const Pipe& err) {
  std::vector<std::string> argv_text{binary};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text;
  for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.read, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write, STDERR_FILENO);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults, empty;
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaddset(&defaults, sig);
  sigemptyset(&empty);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &empty);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, binary.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) throw std::system_error(rc, std::generic_category(), "cannot start " + binary);
  return pid;
}

}  // namespace

ServerProcess::Options ServerProcess::for_mock(const MockPlatform& mock, std::string token) {
  Options options;
  options.args = {"--domain", mock.domain()};
  options.home = std::make_shared<TempDir>("qeltest-home");
  options.env["HOME"] = options.home->path();
  options.env["SSL_CERT_FILE"] = mock.ca_file();
  if (!token.empty()) options.env["QEL_TOKEN"] = std::move(token);
  return options;
}

ServerProcess::ServerProcess(Options options) : options_(std::move(options)) {
  ignore_sigpipe();
  std::string binary = options_.binary.empty() ? default_binary() : options_.binary;
  Pipe in = make_pipe(), out, err;
  try {
    out = make_pipe();
    err = make_pipe();
    pid_ = spawn(binary, options_.args, child_environment(options_), in, out, err);
  } catch (...) {
    for (int* fd : {&in.read, &in.write, &out.read, &out.write, &err.read, &err.write}) {
      close_fd(*fd);
    }
    throw;
  }
  close_fd(in.read);
  close_fd(out.write);
  close_fd(err.write);
  stdin_fd_ = in.write;
  stdout_fd_ = out.read;
  stderr_fd_ = err.read;
  // Writes wait in poll() with a deadline instead of blocking for good.
  ::fcntl(stdin_fd_, F_SETFL, ::fcntl(stdin_fd_, F_GETFL) | O_NONBLOCK);
  pump_ = std::thread([this] { pump_output(); });
}

ServerProcess::~ServerProcess() {
  if (!exit_status_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  close_fd(stdin_fd_);
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  pump_.join();
  close_fd(stdout_fd_);
  close_fd(stderr_fd_);
}

// Runs on the pump thread until both output pipes are at end of file or
// the object is going away.
void ServerProcess::pump_output() {
  bool out_open = true, err_open = true;
  std::array<char, 65536> chunk;
  while (out_open || err_open) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
    }
    pollfd fds[2] = {{out_open ? stdout_fd_ : -1, POLLIN, 0}, {err_open ? stderr_fd_ : -1, POLLIN, 0}};
    int ready = ::poll(fds, 2, 50);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = ::read(fds[i].fd, chunk.data(), chunk.size());
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      std::lock_guard lock(mutex_);
      if (n <= 0) {
        (i == 0 ? out_open : err_open) = false;
        (i == 0 ? stdout_closed_ : stderr_closed_) = true;
      } else {
        (i == 0 ? stdout_buffer_ : stderr_text_).append(chunk.data(), static_cast<size_t>(n));
      }
    }
    output_changed_.notify_all();
  }
  std::lock_guard lock(mutex_);
  stdout_closed_ = true;
  stderr_closed_ = true;
  output_changed_.notify_all();
}

void ServerProcess::write_all(std::string_view bytes) {
  if (stdin_fd_ < 0) throw std::runtime_error("server stdin is closed");
  auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
  while (!bytes.empty()) {
    ssize_t n = ::write(stdin_fd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      throw std::system_error(errno, std::generic_category(), "write to server stdin");
    }
    pollfd fd{stdin_fd_, POLLOUT, 0};
    if (remaining_ms(deadline) == 0 || ::poll(&fd, 1, remaining_ms(deadline)) == 0) {
      throw std::runtime_error("server does not read its stdin");
    }
  }
}

void ServerProcess::send(std::string_view line) {
  std::string framed(line);
  framed += '\n';
  write_all(framed);
}

void ServerProcess::send_raw(std::string_view bytes) {
  write_all(bytes);
}

void ServerProcess::close_stdin() {
  close_fd(stdin_fd_);
}

std::optional<std::string> ServerProcess::read_line(int timeout_ms) {
  std::unique_lock lock(mutex_);
  output_changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [this] { return stdout_buffer_.find('\n') != std::string::npos || stdout_closed_; });
  auto end = stdout_buffer_.find('\n');
  if (end == std::string::npos) return std::nullopt;
  std::string line = stdout_buffer_.substr(0, end);
  stdout_buffer_.erase(0, end + 1);
  return line;
}

std::optional<int> ServerProcess::wait_exit(int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!exit_status_) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exit_status_ = decode_status(status);
      break;
    }
    if (done < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (exit_status_) {
    // Let the pump take in what the child wrote just before it ended, so
    // stderr_text() is complete once wait_exit() has reported the exit.
    std::unique_lock lock(mutex_);
    output_changed_.wait_for(lock, std::chrono::seconds(2), [this] { return stdout_closed_ && stderr_closed_; });
  }
  return exit_status_;
}

void ServerProcess::kill(int signal) {
  if (!exit_status_) ::kill(pid_, signal);
}

std::string ServerProcess::stderr_text() const {
  std::lock_guard lock(mutex_);
  return stderr_text_;
}

std::string ServerProcess::home_dir() const {
  if (options_.home) return options_.home->path();
  auto home = options_.env.find("HOME");
  return home == options_.env.end() ? std::string() : home->second;
}

}  // namespace qeltest
