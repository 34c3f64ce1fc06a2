#include "kit/vault/recording_vault.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "kit/vault/manifest_json.h"
#include "kit/vault/vault_error.h"
#include "kit/vault/vault_recovery.h"
#include "tests/kit/net/thrown.h"
#include "tests/kit/vault/vault_test_environment.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

class RecordingVaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vault.setOnChange([this] { ++changes; });
  }

  std::string deleteRefusal(const std::string& id) {
    return testing::thrownWhat<VaultError>([&] { vault.deleteItem(id); });
  }

  testing::TempDir dir;
  fs::path root = dir / "Videos/Tolvane";
  RecordingVault vault{root};
  int changes = 0;
};

// Folder names use the local time zone (Europe/Berlin here) and the POSIX locale, titles
// the user's locale; two recordings within the same second still get folders of their own.
TEST_F(RecordingVaultTest, CreatesRecordingsInFoldersNamedByLocalTime) {
  const VaultItem item = vault.createRecording("one", true, false, true);
  const auto second = vault.createRecording("two", false, false, false);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(item.directory, root / RecordingVault::folderName(item.manifest));
  EXPECT_NE(item.directory, second.directory);
  EXPECT_EQ(item.manifest.state, RecordingState::recording);
  EXPECT_EQ(decodeManifest(readFile(item.directory / "manifest.json")), item.manifest);
  EXPECT_FALSE(fs::exists(item.directory / "manifest.backup.json"));

  const auto manifest = testing::readyManifest("Clip", "2026-03-05T14:07:09Z", "1F3A9C2B-7D41-4E0A-9B8C-2D5E6F708192");
  EXPECT_EQ(RecordingVault::folderName(manifest), "2026-03-05 15-07-09 1F3A9C2B");
  for (auto [locale, title] : {std::pair{"en_US.UTF-8", "Recording — Mar 5, 3:07 PM"},
                               {"C", "Recording — Mar 5, 3:07 PM"},
                               {"de_DE.UTF-8", "Recording — März 5, 3:07 PM"}}) {
    testing::ScopedEnv env("LC_ALL", locale);
    EXPECT_EQ(RecordingVault::defaultTitle(manifest.createdAt), title) << locale;
  }
}

// A manifest of a newer schema version is updated without losing its version.
TEST_F(RecordingVaultTest, UpdateStampsTimeAndSizeAndKeepsTheBackupOneWriteBehind) {
  auto manifest = testing::readyManifest("Clip", "2020-01-01T00:00:00Z");
  manifest.schemaVersion = 2;
  const fs::path folder = root / "old";
  fs::create_directories(folder);
  writeFile(folder / "manifest.json", encodeManifest(manifest));
  writeFile(folder / "recording.mp4", std::string(4096, 'v'));
  const Date before = std::chrono::floor<std::chrono::seconds>(Date::clock::now());

  auto first = vault.update(manifest.id, [](RecordingManifest& m) { m.title = "first"; });
  ASSERT_TRUE(first);
  EXPECT_GE(first->manifest.updatedAt, before);
  EXPECT_EQ(first->manifest.createdAt, manifest.createdAt);
  EXPECT_EQ(first->manifest.fileSizeBytes, 4096);
  EXPECT_EQ(first->manifest.schemaVersion, 2);
  EXPECT_EQ(decodeManifest(readFile(folder / "manifest.backup.json")), manifest);
  const std::string afterFirst = readFile(folder / "manifest.json");
  EXPECT_EQ(decodeManifest(afterFirst), first->manifest);

  fs::remove(folder / "recording.mp4");
  auto second = vault.update(manifest.id, [](RecordingManifest& m) { m.state = RecordingState::uploading; });
  EXPECT_EQ(second->manifest.fileSizeBytes, 4096);  // a missing file keeps the last known size
  EXPECT_EQ(readFile(folder / "manifest.backup.json"), afterFirst);
  EXPECT_EQ(changes, 2);

  // Unknown ids change nothing, but a delete always reports.
  EXPECT_FALSE(vault.update("no-such-id", [](RecordingManifest&) { ADD_FAILURE() << "called"; }));
  EXPECT_EQ(changes, 2);
  EXPECT_NO_THROW(vault.deleteItem("no-such-id"));
  EXPECT_EQ(changes, 3);
}

// A recording being written (its lock held, maybe by another process) is neither
// recovered nor deleted; a delete that cannot reach the Trash keeps the recording. A
// delete that reaches it is judged through the command line (CommandsTest).
TEST_F(RecordingVaultTest, DeletesThatCannotHappenThrowAndKeepTheRecording) {
  RecordingLock lock;
  const auto item = vault.createRecording("live", false, true, false, &lock);
  ASSERT_TRUE(lock.holds());
  EXPECT_FALSE(RecordingLock::tryAcquire(item.directory));
  const std::vector<std::string> live = {item.id()};
  EXPECT_EQ(VaultRecovery(vault).recoverInterrupted().inProgress, live);
  EXPECT_EQ(
      deleteRefusal(item.id()),
      "Tolvane is still writing “live” (it is being recorded or trimmed); stop that before moving it to the Trash.");
  EXPECT_EQ(vault.item(item.id())->manifest.state, RecordingState::recording);

  lock.release();
  EXPECT_EQ(VaultRecovery(vault).recoverInterrupted().empty, live);
  // A file where the Trash directory should be makes the move impossible.
  const fs::path trash = testing::testHome() / ".local/share/Trash";
  fs::remove_all(trash);
  fs::create_directories(trash.parent_path());
  writeFile(trash, "not a directory");
  const auto stays = vault.item(item.id());
  changes = 0;
  EXPECT_TRUE(deleteRefusal(item.id()).starts_with("Tolvane could not move the recording “live” to the Trash: "));
  fs::remove(trash);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(vault.item(item.id()), stays);
  EXPECT_EQ(deleteRefusal(item.id()), "no error");
  EXPECT_FALSE(vault.item(item.id()));
}

TEST_F(RecordingVaultTest, ChangeCallbackRunsOutsideTheLockAndUpdatesAreSerialised) {
  std::atomic<std::size_t> seen = 0;
  vault.setOnChange([&] { seen = vault.all().size(); });  // would deadlock under the lock
  const auto item = vault.createRecording("counter", false, false, false);
  EXPECT_EQ(seen.load(), 1u);
  std::vector<std::jthread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 8; ++i) vault.update(item.id(), [](RecordingManifest& m) { ++m.attemptCount; });
    });
  }
  threads.clear();
  EXPECT_EQ(vault.item(item.id())->manifest.attemptCount, 24);
}

}  // namespace
}  // namespace tolvane
