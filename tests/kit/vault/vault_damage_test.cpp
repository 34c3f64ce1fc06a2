// How a scan copes with what it finds on disk: damaged manifests, missing manifests,
// entries that are not recordings at all, and what crashed writers left behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "kit/base/memory_log_sink.h"
#include "kit/vault/atomic_file.h"
#include "kit/vault/manifest_json.h"
#include "kit/vault/recording_vault.h"
#include "kit/vault/vault_error.h"
#include "tests/kit/net/thrown.h"
#include "tests/kit/vault/vault_test_environment.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::readyManifest;
using testing::sortedNames;
using testing::writeFile;

class VaultDamageTest : public ::testing::Test {
 protected:
  fs::path folder(const std::string& name) {
    fs::create_directories(root / name);
    return root / name;
  }

  testing::TempDir dir;
  fs::path root = dir / "vault";
  RecordingVault vault{root};
};

// A damaged manifest comes back from its backup, a missing one is rebuilt from the movie,
// each once and with a line in the log.
TEST_F(VaultDamageTest, DamagedOrMissingManifestsAreRepairedOnceFromTheBackupOrTheMovie) {
  const auto manifest = readyManifest();
  const fs::path damaged = folder("2026-03-05 15-07-09 ABCDEF12");
  writeFile(damaged / "manifest.json", "{\"schemaVersion\": 1, \"id\": \"trunc");
  writeFile(damaged / "manifest.backup.json", encodeManifest(manifest));
  const fs::path imported = folder("imported");
  writeFile(imported / "notes.txt", "hello");
  writeFile(imported / "Clip.MOV", std::string(777, 'm'));
  auto sink = MemoryLogSink::attach();

  const auto items = vault.all();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(vault.item(manifest.id)->manifest, manifest);
  EXPECT_EQ(decodeManifest(readFile(damaged / "manifest.json")), manifest);
  EXPECT_EQ(sink->messages("vault").size(), 2u);

  const auto& m = items[0].id() == manifest.id ? items[1].manifest : items[0].manifest;
  EXPECT_EQ(m.state, RecordingState::ready);
  EXPECT_EQ(m.fileName, "Clip.MOV");
  EXPECT_EQ(m.fileSizeBytes, 777);
  EXPECT_EQ(m.title, RecordingVault::defaultTitle(m.createdAt));
  EXPECT_TRUE(m.recoveredFromInterruption);
  EXPECT_EQ(m.lastError, "Recovered from disk — the record of this upload was missing.");

  sink->clear();
  EXPECT_EQ(vault.all().size(), 2u);
  EXPECT_TRUE(vault.item(m.id));
  EXPECT_TRUE(sink->messages("vault").empty());
}

// Nothing here breaks the scan, and nothing is deleted or rewritten.
TEST_F(VaultDamageTest, BadInputNeverBreaksAScan) {
  const auto good = readyManifest("good");
  writeFile(folder("good") / "manifest.json", encodeManifest(good));
  // A directory the scan may not read (unless it runs as root, whom permissions do not stop).
  const bool locking = ::geteuid() != 0;
  writeFile(folder("locked") / "manifest.json", encodeManifest(readyManifest("locked")));
  if (locking) fs::permissions(root / "locked", fs::perms::none);
  // Damaged text itself is judged by the manifest decoder's tests.
  writeFile(folder("empty") / "manifest.json", "");
  writeFile(folder("huge") / "manifest.json", std::string(6 * 1024 * 1024, '{'));
  writeFile(folder("bad-backup") / "manifest.json", "");
  writeFile(root / "bad-backup/manifest.backup.json", "\xff");
  fs::create_directories(root / "manifest-is-a-dir/manifest.json");
  ASSERT_EQ(::mkfifo((folder("fifo") / "manifest.json").c_str(), 0600), 0);
  fs::create_symlink(root / "nowhere", root / "dangling");
  fs::create_symlink(root / "good", root / "link-to-good");  // not a directory entry of its own
  fs::create_symlink(root / "nowhere.json", folder("dangling-manifest") / "manifest.json");
  fs::create_symlink(root / "nowhere.mp4", folder("dangling-movie") / "lost.mp4");
  writeFile(root / "loose-file.mp4", "not in a folder");
  writeFile(folder(".hidden") / "manifest.json", encodeManifest(readyManifest("hidden")));
  // No readable manifest and no movie: skipped and left alone.
  const fs::path stray = folder("stray");
  writeFile(stray / "manifest.json", "{ not json");
  writeFile(stray / "._clip.mp4", "resource fork");  // hidden: not a movie
  const auto strayBefore = sortedNames(stray);

  const auto items = vault.all();
  // "dangling-movie" holds a movie entry: it is rebuilt, with the size it could read (0).
  ASSERT_EQ(items.size(), locking ? 2u : 3u);
  EXPECT_EQ(vault.item(good.id)->manifest, good);
  const auto rebuilt =
      std::find_if(items.begin(), items.end(), [](const VaultItem& i) { return i.manifest.fileName == "lost.mp4"; });
  ASSERT_NE(rebuilt, items.end());
  EXPECT_EQ(rebuilt->manifest.fileSizeBytes, 0);
  EXPECT_FALSE(rebuilt->videoExists());
  EXPECT_EQ(readFile(root / "empty/manifest.json"), "");
  EXPECT_EQ(sortedNames(stray), strayBefore);
  EXPECT_EQ(readFile(stray / "manifest.json"), "{ not json");
}

// Staging files of crashed writers go once a minute old; those of a live writer (its
// lock held) and a fresh one of this very process stay.
TEST_F(VaultDamageTest, StagingFilesThatCrashesLeftAreRemovedOnceAMinuteOld) {
  const fs::path crashed = folder("crashed");
  const fs::path writing = folder("writing");
  for (const auto& f : {crashed, writing}) writeFile(f / "manifest.json", encodeManifest(readyManifest()));
  const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(2);
  for (const char* name : {".recording.mp4.partial", ".recording-trimmed.mp4.new", ".manifest.json.77-0.tmp",
                           ".recording.lock", "recording.mp4", ".notes"}) {
    for (const auto& f : {crashed, writing}) {
      writeFile(f / name, "x");
      fs::last_write_time(f / name, old);
    }
  }
  writeFile(crashed / ".recording-trimmed.mp4.new.partial", "being written");
  const auto lock = RecordingLock::tryAcquire(writing);  // a stalled writer, still alive
  const auto writingBefore = sortedNames(writing);

  EXPECT_EQ(vault.all().size(), 2u);
  EXPECT_EQ(sortedNames(crashed), (std::vector<std::string>{".notes", ".recording-trimmed.mp4.new.partial",
                                                            ".recording.lock", "manifest.json", "recording.mp4"}));
  EXPECT_EQ(sortedNames(writing), writingBefore);

  // Writing a file atomically steps around a leftover of a killed writer with this very
  // process id and clears away an old one.
  const fs::path other = folder("other");
  const std::string ours = fmt::format(".a.json.{}-0.tmp", ::getpid());
  writeFile(other / ours, "half");
  writeFile(other / ".a.json.1-7.tmp", "old half");
  fs::last_write_time(other / ".a.json.1-7.tmp", old);
  writeFileAtomically(other / "a.json", "first");
  writeFileAtomically(other / "a.json", "whole");
  EXPECT_EQ(readFile(other / "a.json"), "whole");
  EXPECT_EQ(sortedNames(other), (std::vector<std::string>{ours, "a.json"}));
  EXPECT_THROW(writeFileAtomically(dir / "missing/a.json", "x"), std::system_error);
}

TEST(VaultRootTest, RootThatCannotBeCreatedIsAnEmptyVaultWithOneError) {
  testing::TempDir dir;
  writeFile(dir / "file", "a file, not a directory");
  auto sink = MemoryLogSink::attach();
  RecordingVault vault(dir / "file/vault");
  EXPECT_TRUE(vault.all().empty());
  EXPECT_TRUE(vault.all().empty());  // the error is logged once
  EXPECT_FALSE(vault.item("x"));
  EXPECT_FALSE(vault.update("x", [](RecordingManifest&) {}));
  EXPECT_NO_THROW(vault.deleteItem("x"));
  EXPECT_EQ(vault.availableCapacityBytes(), 0);
  const auto lines = sink->messages("vault");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with("could not create the vault directory ")) << lines[0];
  EXPECT_TRUE(testing::thrownWhat<VaultError>([&] {
                vault.createRecording("nowhere", false, false, false);
              }).starts_with("Tolvane could not create a folder for the new recording"));
}

}  // namespace
}  // namespace tolvane
