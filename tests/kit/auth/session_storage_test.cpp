#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "kit/auth/auth_session.h"
#include "kit/auth/file_session_storage.h"
#include "kit/auth/session_storage_factory.h"
#include "kit/base/memory_log_sink.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::ScopedEnv;
using testing::TempDir;

const AuthSession kSession{"access", "refresh", Date(seconds(1780000000) + milliseconds(250)), "ada@example.com"};

// The stored form counts seconds from 2001-01-01 and leaves out a missing email.
TEST(AuthSession, StoredFormCountsFrom2001AndIncompleteFormsAreNoSession) {
  EXPECT_DOUBLE_EQ(nlohmann::json::parse(kSession.toStoredJSON())["expiresAt"].get<double>(), 1780000000.25 - 978307200);
  EXPECT_EQ(AuthSession::fromStoredJSON(R"({"accessToken":"a","refreshToken":"r","expiresAt":0})"),
            (AuthSession{"a", "r", Date(seconds(978307200)), std::nullopt}));
  for (const char* text : {R"({"accessToken":"a","refreshToken":"r"})", R"({"accessToken":1,"refreshToken":"r","expiresAt":0})"}) {
    EXPECT_FALSE(AuthSession::fromStoredJSON(text)) << text;
  }
}

// Without a session bus the sign-in is kept in a file only the user can read, with one warning.
TEST(FileSessionStorage, WithoutASessionBusTheFactoryWritesAFileOnlyTheUserCanReadAndReadsOnlyWhatItWrote) {
  TempDir dir;
  ScopedEnv config("XDG_CONFIG_HOME", (dir.path() / "config").c_str());
  ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
  auto logs = MemoryLogSink::attach();
  const auto storage = makeSessionStorage("session");
  const auto file = dir.path() / "config" / "tolvane" / "session.json";
  EXPECT_FALSE(storage->load());
  storage->save(kSession);
  EXPECT_EQ(storage->load(), kSession);
  ASSERT_EQ(logs->messages("auth").size(), 1u);
  EXPECT_TRUE(logs->contains("auth", LogLevel::warning, "no unlocked Secret Service keyring; keeping the sign-in in " +
                                                            file.string() + " (readable only by you)"));

  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(file.parent_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  // An unreadable file is no session and stays in place.
  testing::writeFile(file, "{ not json");
  EXPECT_FALSE(storage->load());
  EXPECT_EQ(testing::readFile(file), "{ not json");
}

}  // namespace
}  // namespace tolvane
