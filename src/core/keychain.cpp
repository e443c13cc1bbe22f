#include "core/keychain.hpp"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "core/config_utf8.hpp"

namespace qel::core {
namespace {

constexpr std::string_view kNoThread = "无法启动 keyring 查询线程：";

// A one-slot channel between the lookup thread and the waiting caller. It is
// shared by both sides, so a thread that answers after the caller has given
// up writes into a slot nobody reads, and frees it.
struct Slot {
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<KeychainAnswer> answer;
  bool sender_done = false;
};

// The lookup thread's end of the channel. If it is destroyed without having
// sent (the backend threw, or the thread unwound some other way), the caller
// learns that the sender is gone rather than waiting out the deadline.
class Sender {
 public:
  explicit Sender(std::shared_ptr<Slot> slot) : slot_(std::move(slot)) {}
  Sender(Sender&&) noexcept = default;
  Sender& operator=(Sender&&) = delete;
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;
  ~Sender() {
    if (slot_) close(std::nullopt);
  }

  void send(KeychainAnswer answer) { close(std::move(answer)); }

 private:
  void close(std::optional<KeychainAnswer> answer) {
    const std::shared_ptr<Slot> slot = std::move(slot_);
    {
      std::lock_guard lock(slot->mutex);
      slot->answer = std::move(answer);
      slot->sender_done = true;
    }
    slot->changed.notify_all();
  }

  std::shared_ptr<Slot> slot_;
};

void run_lookup(Sender sender, const KeychainBackend& backend, const std::string& service, const std::string& account) {
  try {
    KeychainAnswer answer = backend(service, account);
    if (answer.status == KeychainAnswer::Status::Found && !is_valid_utf8(answer.text)) {
      answer = {KeychainAnswer::Status::Failed, std::string(kKeychainNotUtf8)};
    }
    sender.send(std::move(answer));
  } catch (...) {
    // Nothing was sent: the sender's destructor reports the abnormal end.
  }
}

KeychainOutcome outcome_of(KeychainAnswer answer) {
  switch (answer.status) {
    case KeychainAnswer::Status::Found:
      return {true, std::move(answer.text)};
    case KeychainAnswer::Status::NotFound:
      return {false, std::string(kKeychainNotFound)};
    case KeychainAnswer::Status::Failed:
      return {false, std::move(answer.text)};
  }
  return {false, std::string(kKeychainAborted)};
}

}  // namespace

KeychainOutcome keychain_lookup(const std::string& service, const std::string& account, const KeychainBackend& backend,
                                std::chrono::milliseconds timeout) {
  try {
    auto slot = std::make_shared<Slot>();
    // The thread gets its own copies of everything it touches; it may outlive
    // this call.
    std::thread([sender = Sender(slot), backend, service, account]() mutable {
      run_lookup(std::move(sender), backend, service, account);
    }).detach();
    const auto deadline = std::chrono::steady_clock::now() + timeout;

    std::unique_lock lock(slot->mutex);
    if (!slot->changed.wait_until(lock, deadline, [&] { return slot->sender_done; })) {
      return {false, std::string(kKeychainTimedOut)};
    }
    if (!slot->answer) return {false, std::string(kKeychainAborted)};
    return outcome_of(std::move(*slot->answer));
  } catch (const std::exception& error) {
    // Most likely the system refused another thread.
    return {false, std::string(kNoThread) + error.what()};
  } catch (...) {
    return {false, std::string(kNoThread)};
  }
}

}  // namespace qel::core
