// Runs against a real Secret Service: the outer test starts a private D-Bus session with
// its own gnome-keyring-daemon (keyrings in a temporary directory), runs this program's
// KeyringScenario inside it, and stops the daemon by PID.
#include "kit/auth/secret_service_session_storage.h"

#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

constexpr const char* kScenarioVariable = "TOLVANE_KEYRING_SCENARIO";

TEST(KeyringScenario, StoresTheSessionAsJSONUnderServiceAndAccount) {
  if (std::getenv(kScenarioVariable) == nullptr) GTEST_SKIP() << "runs inside SecretServiceSessionStorage.*";
  for (int attempt = 0; attempt < 100 && !SecretServiceSessionStorage::isAvailable(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const AuthSession session{"access", "refresh", Date(std::chrono::seconds(1780000000)), "ada@example.com"};
  SecretServiceSessionStorage storage("session");
  EXPECT_FALSE(storage.load());
  storage.save(session);
  EXPECT_EQ(storage.load(), session);
  // An independent reader finds the item by its two attributes.
  const std::vector<std::string> lookup = {"secret-tool", "lookup", "service", "com.tolvanelabs.Tolvane",
                                           "account", "session"};
  EXPECT_EQ(AuthSession::fromStoredJSON(testing::runCommand(lookup).out), session);
  storage.save(std::nullopt);
  EXPECT_NE(testing::runCommand(lookup).status, 0);
}

TEST(SecretServiceSessionStorage, RoundTripInsideAPrivateUnlockedKeyring) {
  if (std::getenv(kScenarioVariable) != nullptr) GTEST_SKIP() << "this is the outer test";
  for (const char* tool : {"dbus-run-session", "gnome-keyring-daemon", "secret-tool", "dbus-send"}) {
    if (testing::runCommand({"sh", "-c", std::string("command -v ") + tool}).status != 0) GTEST_SKIP() << tool;
  }
  testing::TempDir dir;
  std::filesystem::create_directories(dir / "data");
  std::filesystem::create_directories(dir / "run");
  std::filesystem::permissions(dir / "run", std::filesystem::perms::owner_all);
  // A password on stdin creates and unlocks the login keyring. Our daemon must own the
  // name before anyone asks for it, or the bus would activate a second daemon of its own.
  const std::string script =
      "echo -n test-password | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &"
      "daemon=$!;"
      "for i in $(seq 100); do "
      "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
      "org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets | grep -q true && break;"
      "sleep 0.1; done;"
      "\"$0\" --gtest_filter=KeyringScenario.*; status=$?; kill $daemon; wait $daemon; exit $status";
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const auto result = testing::runCommand({"dbus-run-session", "--", "sh", "-c", script, self},
                                          {{kScenarioVariable, "unlocked"},
                                           {"XDG_DATA_HOME", (dir / "data").string()},
                                           {"XDG_RUNTIME_DIR", (dir / "run").string()},
                                           {"XDG_CONFIG_HOME", (dir / "config").string()}});
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace tolvane
