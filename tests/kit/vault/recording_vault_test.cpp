#include "kit/vault/recording_vault.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "kit/vault/manifest_json.h"
#include "kit/vault/vault_error.h"
#include "tests/kit/vault/vault_test_environment.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

using testing::readyManifest;

std::vector<std::string> ids(const std::vector<VaultItem>& items) {
  std::vector<std::string> out;
  for (const auto& item : items) out.push_back(item.id());
  return out;
}

class RecordingVaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vault.setOnChange([this] { ++changes; });
  }

  // A recording directory made by hand, as another process or an older version would.
  fs::path placeRecording(const std::string& folder, const RecordingManifest& manifest) {
    fs::create_directories(root / folder);
    writeFile(root / folder / "manifest.json", encodeManifest(manifest));
    return root / folder;
  }

  testing::TempDir dir;
  fs::path root = dir / "Videos/Tolvane";
  RecordingVault vault{root};
  int changes = 0;
};

TEST_F(RecordingVaultTest, CreatesRecordingsInFoldersThatDifferWithinTheSameSecond) {
  const VaultItem item = vault.createRecording("Recording — Mar 5, 2:07 PM", true, false, true);
  const auto second = vault.createRecording("two", false, false, false);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(item.directory.parent_path(), root);
  const std::string folder = item.directory.filename().string();
  EXPECT_TRUE(std::regex_match(folder, std::regex(R"(\d{4}-\d\d-\d\d \d\d-\d\d-\d\d [0-9A-F]{8})"))) << folder;
  EXPECT_EQ(folder.substr(20), item.id().substr(0, 8));
  EXPECT_NE(item.directory, second.directory);
  EXPECT_EQ(item.manifest.state, RecordingState::recording);
  EXPECT_TRUE(item.manifest.hasCamera && !item.manifest.hasMicrophone && item.manifest.hasSystemAudio);
  EXPECT_EQ(decodeManifest(readFile(item.directory / "manifest.json")), item.manifest);
  EXPECT_FALSE(fs::exists(item.directory / "manifest.backup.json"));
  EXPECT_EQ(vault.item(item.id()), item);

  // Folder names use the local time zone (Europe/Berlin here) and the POSIX locale.
  const auto manifest = readyManifest("Clip", "2026-03-05T14:07:09Z", "1F3A9C2B-7D41-4E0A-9B8C-2D5E6F708192");
  EXPECT_EQ(RecordingVault::folderName(manifest), "2026-03-05 15-07-09 1F3A9C2B");
}

TEST_F(RecordingVaultTest, DefaultTitleUsesTheUserLocaleAndTimeZone) {
  const Date date = *parseISO8601("2026-03-05T13:07:09Z");  // 14:07 in Berlin
  for (auto [locale, title] : {std::pair{"en_US.UTF-8", "Recording — Mar 5, 2:07 PM"},
                               {"C", "Recording — Mar 5, 2:07 PM"}, {"de_DE.UTF-8", "Recording — März 5, 2:07 PM"}}) {
    testing::ScopedEnv env("LC_ALL", locale);
    EXPECT_EQ(RecordingVault::defaultTitle(date), title) << locale;
  }
}

TEST_F(RecordingVaultTest, ListsNewestFirstAndKeepsListingOrderForEqualTimes) {
  const std::string prefix = "00000000-0000-4000-8000-00000000000";
  for (const auto& [folder, date] : {std::pair{"A", "2026-03-05T10:00:00Z"}, {"B", "2026-03-07T10:00:00Z"},
                                     {"C", "2026-03-06T10:00:00Z"}, {"D", "2026-03-06T10:00:00Z"}}) {
    placeRecording(folder, readyManifest("Clip", date, prefix + folder));
  }
  // C and D tie: their order is the order in which the directory lists them.
  std::vector<std::string> expected = {prefix + "B"};
  for (const auto& entry : fs::directory_iterator(root)) {
    const std::string name = entry.path().filename();
    if (name == "C" || name == "D") expected.push_back(prefix + name);
  }
  expected.push_back(prefix + "A");
  EXPECT_EQ(ids(vault.all()), expected);
  EXPECT_EQ(vault.all().front().id(), vault.createRecording("new", false, false, false).id());
}

TEST_F(RecordingVaultTest, UpdateStampsTimeAndSizeAndKeepsTheBackupOneWriteBehind) {
  auto manifest = readyManifest("Clip", "2020-01-01T00:00:00Z");
  manifest.schemaVersion = 2;
  const fs::path folder = placeRecording("old", manifest);
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
  ASSERT_TRUE(second);
  EXPECT_EQ(second->manifest.fileSizeBytes, 4096);  // a missing file keeps the last known size
  EXPECT_EQ(readFile(folder / "manifest.backup.json"), afterFirst);
  EXPECT_EQ(vault.item(manifest.id), second);
  EXPECT_EQ(changes, 2);

  // Unknown ids change nothing, but a delete always reports.
  bool called = false;
  EXPECT_FALSE(vault.update("no-such-id", [&](RecordingManifest&) { called = true; }));
  EXPECT_FALSE(called);
  EXPECT_FALSE(vault.item("no-such-id"));
  EXPECT_EQ(changes, 2);
  EXPECT_NO_THROW(vault.deleteItem("no-such-id"));
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(vault.all().size(), 1u);
}

TEST_F(RecordingVaultTest, DeleteMovesTheDirectoryToTheTrashOrThrowsAndKeepsIt) {
  const auto item = vault.createRecording("doomed", false, false, false);
  writeFile(item.videoPath(), "movie");
  vault.deleteItem(item.id());
  EXPECT_FALSE(fs::exists(item.directory));
  EXPECT_TRUE(vault.all().empty());
  EXPECT_EQ(readFile(testing::testTrashFiles() / item.directory.filename() / "recording.mp4"), "movie");

  // A file where the Trash directory should be makes the move impossible.
  const auto stays = vault.createRecording("stays", false, false, false);
  const fs::path trash = testing::testHome() / ".local/share/Trash";
  const fs::path aside = testing::testHome() / "Trash.aside";
  fs::rename(trash, aside);
  writeFile(trash, "not a directory");
  changes = 0;
  try {
    vault.deleteItem(stays.id());
    ADD_FAILURE() << "deleteItem did not throw";
  } catch (const VaultError& error) {
    EXPECT_TRUE(std::string(error.what()).starts_with("Tolvane could not move the recording “stays” to the Trash: "))
        << error.what();
  }
  fs::remove(trash);
  fs::rename(aside, trash);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(vault.item(stays.id()), stays);
}

TEST_F(RecordingVaultTest, DiskFigures) {
  writeFile(dir / "file", "x");
  EXPECT_EQ(RecordingVault(dir / "file/below").availableCapacityBytes(), 0);
  const auto a = vault.createRecording("a", false, false, false);
  const auto b = vault.createRecording("b", false, false, false);
  vault.createRecording("no movie", false, false, false);
  writeFile(a.videoPath(), std::string(1000, 'a'));
  writeFile(b.videoPath(), std::string(234, 'b'));
  EXPECT_EQ(vault.totalSizeOnDisk(), 1234);
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
  EXPECT_EQ(vault.withLockedScan([](std::vector<VaultItem>& items) { return ids(items); }), ids(vault.all()));
}

}  // namespace
}  // namespace tolvane
