#include "kit/vault/vault_recovery.h"

#include <gtest/gtest.h>

#include "tests/kit/media/movie_judge.h"
#include "tests/kit/vault/vault_test_environment.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

constexpr const char* kEmptyText = "Tolvane stopped before this recording captured anything.";
constexpr const char* kUnreadableText =
    "Tolvane was interrupted while writing this. The file is kept in place — open it in a video player to check what "
    "survived.";

TEST(VaultRecoveryTest, SettlesEveryInterruptedRecordingByWhatItsFileHolds) {
  testing::TempDir dir;
  RecordingVault vault(dir / "vault");
  int made = 0;
  const auto make = [&](RecordingState state, std::function<void(const std::filesystem::path&)> movie) {
    const auto item = vault.createRecording("Clip", false, true, false);
    if (movie) movie(item.videoPath());
    return *vault.update(item.id(), [&](RecordingManifest& m) {
      m.state = state;
      m.createdAt += std::chrono::seconds(++made);
    });
  };
  // Made oldest first, so each list below is in the vault's order, newest first.
  const auto missing = make(RecordingState::recording, {});
  const auto zeroBytes = make(RecordingState::finalizing, [](const auto& path) { testing::writeFile(path, ""); });
  const auto garbage =
      make(RecordingState::recording, [](const auto& path) { testing::writeFile(path, std::string(3'000'000, 'g')); });
  const auto playable = make(RecordingState::finalizing, [](const auto& path) { testing::writeTestMovie(path, 1.0); });
  const auto tooShort = make(RecordingState::recording, [](const auto& path) { testing::writeTestMovie(path, 0.15); });
  // Recordings that were not interrupted are left alone.
  std::vector<VaultItem> settled;
  for (auto state : {RecordingState::ready, RecordingState::uploading, RecordingState::uploaded,
                     RecordingState::verified, RecordingState::needsAttention}) {
    settled.push_back(make(state, {}));
  }

  const RecoveryReport report = VaultRecovery(vault).recoverInterrupted();

  EXPECT_EQ(report.recovered, std::vector<std::string>{playable.id()});
  EXPECT_EQ(report.unreadable, (std::vector<std::string>{tooShort.id(), garbage.id()}));
  EXPECT_EQ(report.empty, (std::vector<std::string>{zeroBytes.id(), missing.id()}));
  const auto recovered = vault.item(playable.id())->manifest;
  EXPECT_EQ(recovered.state, RecordingState::ready);
  EXPECT_NEAR(recovered.durationSec, 1.0, 0.03);
  EXPECT_EQ(recovered.fileSizeBytes, static_cast<std::int64_t>(std::filesystem::file_size(playable.videoPath())));
  EXPECT_TRUE(recovered.recoveredFromInterruption);
  EXPECT_FALSE(recovered.lastError.has_value());
  for (const auto& [item, text] : {std::pair{missing, kEmptyText},
                                   {zeroBytes, kEmptyText},
                                   {garbage, kUnreadableText},
                                   {tooShort, kUnreadableText}}) {
    const auto m = vault.item(item.id())->manifest;
    EXPECT_EQ(m.state, RecordingState::needsAttention);
    EXPECT_EQ(m.lastError, text);
    EXPECT_TRUE(m.recoveredFromInterruption);
  }
  EXPECT_EQ(vault.item(garbage.id())->manifest.fileSizeBytes, 3'000'000);
  // The files themselves are untouched.
  EXPECT_EQ(testing::readFile(garbage.videoPath()), std::string(3'000'000, 'g'));
  EXPECT_FALSE(std::filesystem::exists(missing.videoPath()));
  for (const auto& item : settled) EXPECT_EQ(vault.item(item.id()), item);

  // Recovered items are no longer interrupted: a second run finds nothing.
  EXPECT_TRUE(VaultRecovery(vault).recoverInterrupted().isEmpty());
}

}  // namespace
}  // namespace tolvane
