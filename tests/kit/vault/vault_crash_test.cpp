// A process that is killed at any moment while it rewrites a manifest leaves a
// recording that can still be read.
#include <csignal>

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "kit/vault/manifest_json.h"
#include "kit/vault/recording_vault.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::TempDir;
using testing::readFile;

TEST(VaultCrashTest, KilledWritersNeverLeaveAnUnreadableRecording) {
  TempDir dir;
  RecordingVault vault(dir / "vault");
  const VaultItem item = vault.createRecording("Crash me", false, false, false);
  const fs::path helper = testing::builtProgram("tests/kit/vault/vault_rewrite_loop");

  std::mt19937 random(20260305);
  std::uniform_int_distribution<int> delayMicros(0, 15'000);
  constexpr int kRounds = 300;
  for (int round = 0; round < kRounds; ++round) {
    ChildProcess writer({helper.string(), (dir / "vault").string(), item.id()});
    std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
    writer.kill(SIGKILL);
    ASSERT_TRUE(writer.wait(std::chrono::seconds(10))) << "the writer did not die";

    const std::string current = readFile(item.manifestURL());
    ASSERT_FALSE(current.empty()) << "empty manifest.json after round " << round;
    const bool currentReadable = decodeManifest(current).has_value();
    const bool backupReadable = decodeManifest(readFile(item.backupManifestURL())).has_value();
    ASSERT_TRUE(currentReadable || backupReadable) << "both manifests unreadable after round " << round;
  }

  // The writers did get to work, and the vault still reads the recording.
  const auto final = vault.item(item.id());
  ASSERT_TRUE(final);
  EXPECT_GT(final->manifest.attemptCount, kRounds / 2);
}

}  // namespace
}  // namespace tolvane
