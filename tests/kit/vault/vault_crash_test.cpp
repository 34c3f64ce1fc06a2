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

// attemptCount as the current manifest (or, while that is unreadable, its backup) says.
int currentAttempts(const VaultItem& item) {
  for (const char* name : {"manifest.json", "manifest.backup.json"}) {
    if (auto manifest = decodeManifest(readFile(item.directory / name))) return manifest->attemptCount;
  }
  return -1;
}

bool waitForAttemptsAbove(const VaultItem& item, int attempts) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (currentAttempts(item) > attempts) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

TEST(VaultCrashTest, KilledWritersNeverLeaveAnUnreadableRecording) {
  TempDir dir;
  RecordingVault vault(dir / "vault");
  const VaultItem item = vault.createRecording("Crash me", false, false, false);
  const fs::path helper = testing::builtProgram("tests/kit/vault/vault_rewrite_loop");

  std::mt19937 random(20260305);
  std::uniform_int_distribution<int> delayMicros(0, 5'000);
  constexpr int kRounds = 200;
  int attempts = 0;
  for (int round = 0; round < kRounds; ++round) {
    ChildProcess writer({helper.string(), (dir / "vault").string(), item.id()});
    // Let the writer finish one rewrite first (however slowly it starts), then kill it
    // at a random moment of the rewrites that follow.
    ASSERT_TRUE(waitForAttemptsAbove(item, attempts)) << "the writer made no progress in round " << round;
    std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
    writer.kill(SIGKILL);
    ASSERT_TRUE(writer.wait(std::chrono::seconds(10))) << "the writer did not die";

    const std::string current = readFile(item.directory / "manifest.json");
    ASSERT_FALSE(current.empty()) << "empty manifest.json after round " << round;
    const bool currentReadable = decodeManifest(current).has_value();
    const bool backupReadable = decodeManifest(readFile(item.directory / "manifest.backup.json")).has_value();
    ASSERT_TRUE(currentReadable || backupReadable) << "both manifests unreadable after round " << round;
    attempts = currentAttempts(item);
  }

  // Every writer got to work, and the vault still reads the recording.
  const auto final = vault.item(item.id());
  ASSERT_TRUE(final);
  EXPECT_GE(final->manifest.attemptCount, kRounds);
}

}  // namespace
}  // namespace tolvane
