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
TEST(AuthSession, StoredFormRoundTripsAndUnreadableFormsAreNoSession) {
  EXPECT_DOUBLE_EQ(nlohmann::json::parse(kSession.toStoredJSON())["expiresAt"].get<double>(), 1780000000.25 - 978307200);
  EXPECT_EQ(AuthSession::fromStoredJSON(kSession.toStoredJSON()), kSession);
  EXPECT_EQ(AuthSession::fromStoredJSON(R"({"accessToken":"a","refreshToken":"r","expiresAt":0})"),
            (AuthSession{"a", "r", Date(seconds(978307200)), std::nullopt}));
  for (const char* text : {"", "{", "[]", R"({"accessToken":"a","refreshToken":"r"})",
                           R"({"accessToken":"a","refreshToken":"r","expiresAt":"2026-01-01T00:00:00Z"})",
                           R"({"accessToken":1,"refreshToken":"r","expiresAt":0})"}) {
    EXPECT_FALSE(AuthSession::fromStoredJSON(text)) << text;
  }
}

TEST(FileSessionStorage, WritesAFileOnlyTheUserCanReadAndReadsOnlyWhatItWrote) {
  TempDir dir;
  FileSessionStorage storage(dir / "config" / "tolvane" / "session.json");
  EXPECT_FALSE(storage.load());
  storage.save(kSession);
  EXPECT_EQ(storage.load(), kSession);

  struct stat info {};
  ASSERT_EQ(::stat(storage.path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(storage.path().parent_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(AuthSession::fromStoredJSON(testing::readFile(storage.path())), kSession);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(storage.path().parent_path()),
                          std::filesystem::directory_iterator()),
            1)
      << "no temporary file left behind";

  storage.save(std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(storage.path()));
  storage.save(std::nullopt);  // nothing to remove is fine

  // An unreadable file is no session and stays in place.
  testing::writeFile(storage.path(), "{ not json");
  EXPECT_FALSE(storage.load());
  EXPECT_EQ(testing::readFile(storage.path()), "{ not json");
}

TEST(FileSessionStorage, DefaultPathFollowsXDGConfigHome) {
  ScopedEnv config("XDG_CONFIG_HOME", "/tmp/cfg");
  EXPECT_EQ(FileSessionStorage::defaultPath("session"), "/tmp/cfg/tolvane/session.json");
  ScopedEnv noConfig("XDG_CONFIG_HOME", nullptr);
  ScopedEnv home("HOME", "/home/ada");
  EXPECT_EQ(FileSessionStorage::defaultPath("session"), "/home/ada/.config/tolvane/session.json");
}

TEST(SessionStorageFactory, WithoutASessionBusFallsBackToTheFileWithOneWarning) {
  TempDir dir;
  ScopedEnv config("XDG_CONFIG_HOME", (dir.path() / "config").c_str());
  ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
  auto logs = MemoryLogSink::attach();

  auto storage = makeSessionStorage("session");
  storage->save(kSession);
  EXPECT_EQ(storage->load(), kSession);
  const auto file = dir.path() / "config" / "tolvane" / "session.json";
  EXPECT_TRUE(std::filesystem::exists(file));

  const auto lines = logs->messages("auth");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(logs->contains("auth", LogLevel::warning, "no unlocked Secret Service keyring; keeping the sign-in in " +
                                                            file.string() + " (readable only by you)"));
}

}  // namespace
}  // namespace tolvane
