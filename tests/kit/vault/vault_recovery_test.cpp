#include "kit/vault/vault_recovery.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/kit/media/movie_judge.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

constexpr const char* kEmptyText = "Tolvane stopped before this recording captured anything.";
constexpr const char* kUnreadableText =
    "Tolvane was interrupted while writing this. The file is kept in place — open it in a video player to check what "
    "survived.";

VaultItem interrupted(RecordingVault& vault, RecordingState state = RecordingState::recording) {
  auto item = vault.createRecording("Clip", false, true, false);
  return *vault.update(item.id(), [state](RecordingManifest& m) { m.state = state; });
}

TEST(VaultRecoveryTest, SettlesEveryInterruptedRecordingByWhatItsFileHolds) {
  TempDir dir;
  RecordingVault vault(dir / "vault");

  const auto missing = interrupted(vault);
  const auto zeroBytes = interrupted(vault, RecordingState::finalizing);
  testing::writeFile(zeroBytes.videoPath(), "");
  const auto garbage = interrupted(vault);
  testing::writeFile(garbage.videoPath(), std::string(3'000'000, 'g'));
  const auto playable = interrupted(vault, RecordingState::finalizing);
  testing::writeTestMovie(playable.videoPath(), 1.0);
  const auto tooShort = interrupted(vault);
  testing::writeTestMovie(tooShort.videoPath(), 0.15);
  // Recordings that were not interrupted are left alone.
  std::vector<VaultItem> settled;
  for (auto state : {RecordingState::ready, RecordingState::uploading, RecordingState::uploaded,
                     RecordingState::verified, RecordingState::needsAttention}) {
    settled.push_back(interrupted(vault, state));
  }

  const RecoveryReport report = VaultRecovery(vault).recoverInterrupted();

  // Ids come in the vault's order, newest first.
  auto inVaultOrder = [&](const std::set<std::string>& wanted) {
    std::vector<std::string> ids;
    for (const auto& item : vault.all()) {
      if (wanted.contains(item.id())) ids.push_back(item.id());
    }
    return ids;
  };
  EXPECT_EQ(report.recovered, std::vector<std::string>{playable.id()});
  EXPECT_EQ(report.unreadable, inVaultOrder({garbage.id(), tooShort.id()}));
  EXPECT_EQ(report.empty, inVaultOrder({missing.id(), zeroBytes.id()}));

  const auto recovered = vault.item(playable.id())->manifest;
  EXPECT_EQ(recovered.state, RecordingState::ready);
  EXPECT_NEAR(recovered.durationSec, 1.0, 0.03);
  EXPECT_EQ(recovered.fileSizeBytes, static_cast<std::int64_t>(fs::file_size(playable.videoPath())));
  EXPECT_TRUE(recovered.recoveredFromInterruption);
  EXPECT_FALSE(recovered.lastError.has_value());

  for (const auto& id : {missing.id(), zeroBytes.id()}) {
    const auto m = vault.item(id)->manifest;
    EXPECT_EQ(m.state, RecordingState::needsAttention);
    EXPECT_EQ(m.lastError, kEmptyText);
    EXPECT_TRUE(m.recoveredFromInterruption);
  }
  const auto unreadable = vault.item(garbage.id())->manifest;
  EXPECT_EQ(unreadable.state, RecordingState::needsAttention);
  EXPECT_EQ(unreadable.fileSizeBytes, 3'000'000);
  EXPECT_EQ(unreadable.durationSec, 0);
  EXPECT_EQ(unreadable.lastError, kUnreadableText);
  EXPECT_EQ(vault.item(tooShort.id())->manifest.state, RecordingState::needsAttention);
  // The files themselves are untouched.
  EXPECT_EQ(fs::file_size(garbage.videoPath()), 3'000'000u);
  EXPECT_FALSE(fs::exists(missing.videoPath()));
  for (const auto& item : settled) EXPECT_EQ(vault.item(item.id()), item);

  // Recovered items are no longer interrupted: a second run finds nothing.
  EXPECT_TRUE(VaultRecovery(vault).recoverInterrupted().isEmpty());
}

}  // namespace
}  // namespace tolvane
