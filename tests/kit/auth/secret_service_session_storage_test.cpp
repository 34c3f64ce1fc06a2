// Runs against a real Secret Service: the outer test starts a private D-Bus session with
// its own gnome-keyring-daemon (keyrings in a temporary directory), runs this program's
// KeyringScenario cases inside it, and stops the daemon by PID.
#include "kit/auth/secret_service_session_storage.h"

#include <cstdlib>
#include <iostream>
#include <thread>

#include <gtest/gtest.h>

#include "kit/auth/session_storage_factory.h"
#include "kit/base/memory_log_sink.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using std::chrono::seconds;

constexpr const char* kScenarioVariable = "TOLVANE_KEYRING_SCENARIO";
constexpr const char* kRunsInside = "runs inside SecretServiceSessionStorage.InsideAPrivateKeyring...";

const AuthSession kSession{"access", "refresh", Date(seconds(1780000000)), "ada@example.com"};

bool insideScenario(std::string_view which = "unlocked") {
  const char* scenario = std::getenv(kScenarioVariable);
  return scenario != nullptr && scenario == which;
}

void waitForSecretService() {
  for (int attempt = 0; attempt < 100 && !SecretServiceSessionStorage::isAvailable(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(SecretServiceSessionStorage::isAvailable()) << "gnome-keyring-daemon did not come up";
}

TEST(KeyringScenario, StoresTheSessionAsJSONUnderServiceAndAccountAndIsTheFactorysChoice) {
  if (!insideScenario()) GTEST_SKIP() << kRunsInside;
  waitForSecretService();

  SecretServiceSessionStorage storage("session");
  EXPECT_FALSE(storage.load());
  storage.save(kSession);
  EXPECT_EQ(storage.load(), kSession);
  EXPECT_EQ(storage.readSecret(), kSession.toStoredJSON());

  // An independent reader finds the item by its two attributes; another account is another item.
  const std::vector<std::string> lookup = {"secret-tool", "lookup", "service", "com.tolvanelabs.Tolvane", "account",
                                           "session"};
  EXPECT_EQ(AuthSession::fromStoredJSON(testing::runCommand(lookup).out), kSession);
  EXPECT_FALSE(SecretServiceSessionStorage("other").load());

  // Saving again replaces the item instead of adding a second one.
  auto renewed = kSession;
  renewed.accessToken = "access-2";
  storage.save(renewed);
  EXPECT_EQ(storage.load(), renewed);

  storage.save(std::nullopt);
  EXPECT_NE(testing::runCommand(lookup).status, 0);
  storage.save(std::nullopt);  // deleting nothing is fine

  // An unreadable item is no session and stays in place.
  SecretServiceSessionStorage broken("broken");
  ASSERT_TRUE(broken.writeSecret("{\"accessToken\":\"a\"}"));
  EXPECT_FALSE(broken.load());
  EXPECT_EQ(broken.readSecret(), "{\"accessToken\":\"a\"}");

  // With a keyring at hand the factory picks it, without a warning.
  auto logs = MemoryLogSink::attach();
  auto chosen = makeSessionStorage("factory");
  EXPECT_NE(dynamic_cast<SecretServiceSessionStorage*>(chosen.get()), nullptr);
  EXPECT_TRUE(logs->messages("auth").empty());
}

TEST(LockedKeyringScenario, TheFactoryFallsBackToTheFileWithOneWarning) {
  if (!insideScenario("locked")) GTEST_SKIP() << kRunsInside;
  // The daemon answers on the bus but has no unlocked default keyring.
  auto logs = MemoryLogSink::attach();
  auto storage = makeSessionStorage("session");
  storage->save(kSession);
  EXPECT_EQ(storage->load(), kSession);
  EXPECT_EQ(dynamic_cast<SecretServiceSessionStorage*>(storage.get()), nullptr);
  EXPECT_EQ(logs->messages("auth").size(), 1u);
}

// Runs this program's `filter` cases inside a private D-Bus session with a
// gnome-keyring-daemon, then stops the daemon by PID. With `unlock`, a password on
// stdin creates and unlocks the login keyring; without, the daemon has no keyring.
testing::CommandResult runInsideKeyring(const std::string& scenario, const std::string& filter, bool unlock) {
  testing::TempDir dir;
  std::filesystem::create_directories(dir / "data");
  std::filesystem::create_directories(dir / "run");
  std::filesystem::permissions(dir / "run", std::filesystem::perms::owner_all);
  const std::string daemon = unlock ? "echo -n test-password | gnome-keyring-daemon --foreground --unlock"
                                    : "gnome-keyring-daemon --foreground </dev/null";
  const std::string script = daemon + " --components=secrets >\"$1\" 2>&1 &"
                             "daemon=$!;"
                             // Our daemon must own the name before anyone asks for it, or
                             // the bus would activate a second daemon of its own.
                             "for i in $(seq 100); do "
                             "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
                             "org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets | grep -q true && break;"
                             "sleep 0.1; done;"
                             "\"$0\" --gtest_filter='" + filter + "';"
                             "status=$?;"
                             "kill $daemon; wait $daemon;"
                             "exit $status";
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  auto result = testing::runCommand({"dbus-run-session", "--", "sh", "-c", script, self, (dir / "daemon.log").string()},
                                    {{kScenarioVariable, scenario},
                                     {"XDG_DATA_HOME", (dir / "data").string()},
                                     {"XDG_RUNTIME_DIR", (dir / "run").string()},
                                     {"XDG_CONFIG_HOME", (dir / "config").string()}});
  if (std::getenv("TOLVANE_SHOW_SCENARIO")) std::cout << result.out;
  return result;
}

bool keyringToolsMissing() {
  for (const char* tool : {"dbus-run-session", "gnome-keyring-daemon", "secret-tool", "dbus-send"}) {
    if (testing::runCommand({"sh", "-c", std::string("command -v ") + tool}).status != 0) return true;
  }
  return false;
}

TEST(SecretServiceSessionStorage, InsideAPrivateKeyringUnlockedOrNot) {
  if (insideScenario("unlocked") || insideScenario("locked")) GTEST_SKIP() << "this is an outer test";
  if (keyringToolsMissing()) GTEST_SKIP() << "dbus-run-session, gnome-keyring-daemon or secret-tool is missing";
  const std::tuple<const char*, const char*, bool> scenarios[] = {{"unlocked", "KeyringScenario.*", true},
                                                                  {"locked", "LockedKeyringScenario.*", false}};
  for (const auto& [scenario, filter, unlock] : scenarios) {
    const auto result = runInsideKeyring(scenario, filter, unlock);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
  }
}

}  // namespace
}  // namespace tolvane
