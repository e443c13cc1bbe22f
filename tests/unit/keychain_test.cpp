// The keychain lookup: its three-second deadline and abnormal-end detection
// against injected stores, and the Secret Service store against a real
// gnome-keyring daemon on a private session bus.
#include "core/keychain.hpp"

#include <gtest/gtest.h>

#include "on_path.hpp"

#include "scoped_env.hpp"
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/config_file.hpp"
#include "core/credentials.hpp"
#include "server_process.hpp"
#include "temp_dir.hpp"

#if defined(__linux__) && __has_include(<libsecret/secret.h>)
#include <libsecret/secret.h>
#define QEL_TEST_CAN_LOCK_SECRET_SERVICE 1
#endif

namespace {

using qel::core::keychain_lookup;
using qel::core::KeychainAnswer;
using qel::core::KeychainOutcome;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Set in the environment of this binary when it re-runs itself as a helper
// process for one of the tests below.
constexpr const char* kChildRole = "QEL_KEYCHAIN_TEST_ROLE";

std::string self_path() {
  return std::filesystem::read_symlink("/proc/self/exe").string();
}

bool child_role_is(std::string_view role) {
  const char* value = std::getenv(kChildRole);
  return value != nullptr && role == value;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

KeychainAnswer found(std::string text) {
  return {KeychainAnswer::Status::Found, std::move(text)};
}

// ---- deadline and outcome logic with injected stores -----------------------

struct QuickCase {
  const char* name;
  qel::core::KeychainBackend backend;
  bool found;
  std::string text;
};

TEST(KeychainLookup, ReportsEachKindOfAnswerWithoutWaitingForTheDeadline) {
  const QuickCase cases[] = {
      {"item text", [](auto&, auto&) { return found("tok-1"); }, true, "tok-1"},
      {"empty item", [](auto&, auto&) { return found(""); }, true, ""},
      {"not found",
       [](auto&, auto&) {
         return KeychainAnswer{KeychainAnswer::Status::NotFound, "ignored"};
       },
       false, "keyring 中未找到对应 token"},
      {"store error",
       [](auto&, auto&) {
         return KeychainAnswer{KeychainAnswer::Status::Failed, "denied by store"};
       },
       false, "denied by store"},
      {"item not UTF-8", [](auto&, auto&) { return found("tok\xff\xfe"); }, false,
       std::string(qel::core::kKeychainNotUtf8)},
      {"store throws", [](auto&, auto&) -> KeychainAnswer { throw std::runtime_error("backend crashed"); }, false,
       "keyring 调用异常中断"},
      {"store throws a non-exception", [](auto&, auto&) -> KeychainAnswer { throw 42; }, false, "keyring 调用异常中断"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = Clock::now();
    const KeychainOutcome outcome = keychain_lookup("qelkit:example.com", "alice", c.backend);
    EXPECT_LT(seconds_since(start), 1.0);
    EXPECT_EQ(outcome.found, c.found);
    EXPECT_EQ(outcome.text, c.text);
  }
}

TEST(KeychainLookup, HandsServiceAndAccountToTheStore) {
  std::string seen;
  const auto outcome =
      keychain_lookup("qelkit:a-b.c", "bob", [&seen](const std::string& service, const std::string& account) {
        seen = service + "|" + account;
        return found("x");
      });
  EXPECT_TRUE(outcome.found);
  EXPECT_EQ(seen, "qelkit:a-b.c|bob");
}

// A store that answers only when the test opens its gate (or after 5 s), and
// reports when the lookup thread has let go of it.
struct SlowStore {
  std::mutex mutex;
  std::condition_variable changed;
  bool gate_open = false;
  bool released = false;
};

TEST(KeychainLookup, GivesUpAfterThreeSecondsAndLetsTheLateAnswerGo) {
  auto store = std::make_shared<SlowStore>();
  // The thread's copy of the backend is destroyed only after the late answer
  // has been sent into the abandoned channel.
  struct Release {
    std::shared_ptr<SlowStore> store;
    ~Release() {
      if (!store) return;
      {
        std::lock_guard lock(store->mutex);
        store->released = true;
      }
      store->changed.notify_all();
    }
  };
  auto release = std::make_shared<Release>(Release{store});
  qel::core::KeychainBackend slow = [store, release](const std::string&, const std::string&) {
    std::unique_lock lock(store->mutex);
    store->changed.wait_for(lock, 5s, [&] { return store->gate_open; });
    return found("too late");
  };
  release.reset();  // from now on only `slow` and its copies own it

  const auto start = Clock::now();
  const KeychainOutcome outcome = keychain_lookup("qelkit:example.com", "alice", slow);
  const double elapsed = seconds_since(start);
  EXPECT_FALSE(outcome.found);
  EXPECT_EQ(outcome.text, "访问 keyring 超时");
  EXPECT_GE(elapsed, 2.9);
  EXPECT_LT(elapsed, 4.0);

  slow = nullptr;  // the lookup thread now holds the last copy
  {
    std::lock_guard lock(store->mutex);
    store->gate_open = true;
  }
  store->changed.notify_all();
  std::unique_lock lock(store->mutex);
  EXPECT_TRUE(store->changed.wait_for(lock, 3s, [&] { return store->released; }))
      << "the abandoned lookup thread did not finish after its store answered";
}

TEST(KeychainLookup, FailsAtOnceWhenNoThreadCanBeStarted) {
  // Ask for thread stacks larger than the address space, so that thread
  // creation fails the way it does when the system is out of resources.
  pthread_attr_t saved;
  ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
  pthread_attr_t huge;
  pthread_attr_init(&huge);
  ASSERT_EQ(pthread_attr_setstacksize(&huge, std::size_t{1} << 60), 0);
  ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
  bool refused = false;
  try {
    std::thread([] {}).join();
  } catch (const std::system_error&) {
    refused = true;
  }
  KeychainOutcome outcome;
  const auto start = Clock::now();
  if (refused) outcome = keychain_lookup("qelkit:example.com", "alice", [](auto&, auto&) { return found("tok"); });
  const double elapsed = seconds_since(start);
  pthread_setattr_default_np(&saved);
  pthread_attr_destroy(&huge);
  pthread_attr_destroy(&saved);
  if (!refused) GTEST_SKIP() << "this system starts threads even with an impossible stack size";

  EXPECT_FALSE(outcome.found);
  EXPECT_FALSE(outcome.text.empty());
  EXPECT_NE(outcome.text, "访问 keyring 超时");
  EXPECT_LT(elapsed, 1.0);
}

TEST(KeychainLookup, AbandonedThreadDoesNotHoldUpProcessExit) {
  if (child_role_is("stuck-store")) {
    // Runs in the helper process: a store that never answers in time.
    const auto outcome = keychain_lookup(
        "qelkit:example.com", "alice",
        [](auto&, auto&) {
          std::this_thread::sleep_for(60s);
          return found("never");
        },
        200ms);
    EXPECT_EQ(outcome.text, "访问 keyring 超时");
    return;  // the process now exits with the lookup thread still asleep
  }
  qeltest::ServerProcess::Options options;
  options.binary = self_path();
  options.args = {"--gtest_filter=KeychainLookup.AbandonedThreadDoesNotHoldUpProcessExit"};
  options.env = {{kChildRole, "stuck-store"}};
  const auto start = Clock::now();
  qeltest::ServerProcess child(options);
  const std::optional<int> status = child.wait_exit(30000);
  ASSERT_TRUE(status.has_value()) << "the helper process is still running";
  EXPECT_EQ(*status, 0) << child.stderr_text();
  EXPECT_LT(seconds_since(start), 20.0);
}

// ---- the real Secret Service --------------------------------------------

using qeltest::on_path;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Starts gnome-keyring on the private bus that dbus-run-session creates,
// stores items the way other tools do, then re-runs this test inside that
// session. Exit status 77 means the daemon could not be brought up.
constexpr const char* kPrivateSessionScript = R"(
self=$1
log=$2
exec >>"$log" 2>&1
printf '%s' pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null || {
  echo "gnome-keyring-daemon did not start"; exit 77; }
store() {
  secret=$1; shift
  printf "$secret" | secret-tool store --label="qelkit test item" "$@" || {
    echo "secret-tool store failed for: $*"; exit 77; }
}
store 'tok-alice' service qelkit:example.com username alice
store '{"access_token":"t","expires_at":1}' service qelkit:example.com username blob
store '{"refresh_token":"r"}' service qelkit:example.com username noaccess
store 'tok-carol' service qelkit:example.com username carol comment "written by another tool"
store 'tok-other' service qelkit:other.example username alice
store '\377\376' service qelkit:example.com username binary
exec "$self" --gtest_filter=KeychainSecretService.ReadsItemsFromARealDaemon
)";

void check_items_in_private_session() {
  using qel::core::system_keychain_find;
  const struct {
    const char* account;
    bool found;
    std::string text;
  } items[] = {
      {"alice", true, "tok-alice"},
      {"carol", true, "tok-carol"},  // stored with an extra attribute
      {"blob", true, R"({"access_token":"t","expires_at":1})"},
      {"nobody", false, "keyring 中未找到对应 token"},
      {"binary", false, std::string(qel::core::kKeychainNotUtf8)},
  };
  for (const auto& item : items) {
    SCOPED_TRACE(item.account);
    const KeychainOutcome outcome = keychain_lookup("qelkit:example.com", item.account);
    EXPECT_EQ(outcome.found, item.found);
    EXPECT_EQ(outcome.text, item.text);
  }

  // The whole resolution, from the configuration file to the token.
  const auto config_for = [](const std::string& user) {
    return qel::core::parse_config("[auth.\"example.com\"]\nuser = \"" + user + "\"\n[auth.\"example.com\".users." +
                                   user + "]\nstorage = \"keyring\"\n");
  };
  EXPECT_EQ(qel::core::resolve_token("example.com", config_for("alice")), "tok-alice");
  EXPECT_EQ(qel::core::resolve_token("other.example", qel::core::parse_config("[auth.\"other.example\".users.alice]\n"
                                                                              "storage = \"keyring\"\n")),
            "tok-other");
  EXPECT_EQ(qel::core::resolve_token("example.com", config_for("blob")), "t");
  EXPECT_EQ(qel::core::resolve_token("example.com", config_for("noaccess")), R"({"refresh_token":"r"})");

#ifdef QEL_TEST_CAN_LOCK_SECRET_SERVICE
  // A locked collection is reported at once, without prompting the user.
  GError* error = nullptr;
  SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
  ASSERT_NE(service, nullptr) << (error != nullptr ? error->message : "");
  SecretCollection* collection =
      secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
  ASSERT_NE(collection, nullptr) << (error != nullptr ? error->message : "no default collection");
  GList* objects = g_list_append(nullptr, collection);
  const gint locked = secret_service_lock_sync(service, objects, nullptr, nullptr, &error);
  g_list_free(objects);
  g_object_unref(collection);
  g_object_unref(service);
  ASSERT_EQ(locked, 1) << (error != nullptr ? error->message : "");

  const auto start = Clock::now();
  const KeychainOutcome outcome = keychain_lookup("qelkit:example.com", "alice");
  EXPECT_LT(seconds_since(start), 2.0);
  EXPECT_FALSE(outcome.found);
  EXPECT_FALSE(outcome.text.empty());
  EXPECT_NE(outcome.text, "访问 keyring 超时");
  EXPECT_NE(outcome.text, "keyring 调用异常中断");
#endif
}

TEST(KeychainSecretService, ReadsItemsFromARealDaemon) {
  if (child_role_is("private-session")) {
    check_items_in_private_session();
    return;
  }
  if (qel::core::system_keychain_kind() != "secret-service") GTEST_SKIP() << "built without libsecret";
  for (const char* program : {"dbus-run-session", "gnome-keyring-daemon", "secret-tool", "sh"}) {
    if (!on_path(program)) GTEST_SKIP() << program << " is not installed; cannot start a private Secret Service";
  }

  // Everything the daemon writes lands in this directory, never in the real
  // home or keyrings of whoever runs the tests.
  qeltest::TempDir dir("qel-secret-service");
  const std::string script = dir.write_file("session.sh", kPrivateSessionScript);
  const std::string log = dir.path() + "/session.log";
  const std::string runtime = dir.make_dir("run");
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  qeltest::ServerProcess::Options options;
  options.binary = "dbus-run-session";
  options.args = {"--", "sh", script, self_path(), log};
  options.env = {{kChildRole, "private-session"},           {"HOME", dir.path()},
                 {"XDG_DATA_HOME", dir.make_dir("data")},   {"XDG_CONFIG_HOME", dir.make_dir("config")},
                 {"XDG_CACHE_HOME", dir.make_dir("cache")}, {"XDG_RUNTIME_DIR", runtime}};
  std::optional<int> status;
  try {
    qeltest::ServerProcess session(options);
    status = session.wait_exit(60000);
    if (!status) FAIL() << "the private session did not finish within 60 s\n" << read_file(log);
  } catch (const std::exception& error) {
    GTEST_SKIP() << "cannot start dbus-run-session: " << error.what();
  }
  if (*status == 77) GTEST_SKIP() << "no Secret Service could be started on a private bus:\n" << read_file(log);
  EXPECT_EQ(*status, 0) << read_file(log);
  EXPECT_NE(read_file(log).find("[  PASSED  ] 1 test"), std::string::npos) << read_file(log);
}

using qeltest::ScopedEnv;

TEST(KeychainSecretService, MissingSessionBusIsAPlainFailure) {
  if (qel::core::system_keychain_kind() != "secret-service") GTEST_SKIP() << "built without libsecret";
  qeltest::TempDir dir("qel-no-bus");
  const struct {
    const char* name;
    std::optional<std::string> address;
  } cases[] = {
      {"address of a socket that does not exist", "unix:path=" + dir.path() + "/no-such-bus"},
      // No address and no socket in the runtime directory: nothing may be
      // autolaunched, even with a display to launch it for.
      {"no bus at all", std::nullopt},
  };
  ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
  ScopedEnv display("DISPLAY", ":97");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", c.address);
    const auto start = Clock::now();
    const KeychainOutcome outcome = keychain_lookup("qelkit:example.com", "alice");
    EXPECT_LT(seconds_since(start), 2.0);
    EXPECT_FALSE(outcome.found);
    EXPECT_FALSE(outcome.text.empty());
    EXPECT_NE(outcome.text, "访问 keyring 超时");
    EXPECT_NE(outcome.text, "keyring 中未找到对应 token");
  }
}

}  // namespace
