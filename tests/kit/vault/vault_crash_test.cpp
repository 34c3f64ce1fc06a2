// A process that is killed at any moment while it rewrites a manifest leaves a
// recording that can still be read.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "kit/vault/manifest_json.h"
#include "kit/vault/recording_vault.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using testing::readFile;

// attemptCount as the current manifest (or, while that is unreadable, its backup) says.
int currentAttempts(const VaultItem& item) {
  for (const char* name : {"manifest.json", "manifest.backup.json"}) {
    if (auto manifest = decodeManifest(readFile(item.directory / name))) return manifest->attemptCount;
  }
  return -1;
}

// A child that rewrites the manifest through a vault of its own as fast as it can, with
// titles of changing length, so that a half-written file would show.
pid_t startWriter(const std::filesystem::path& root, const std::string& id) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  RecordingVault vault(root);
  for (unsigned round = 0;; ++round) {
    const auto updated = vault.update(id, [round](RecordingManifest& m) {
      ++m.attemptCount;
      m.title = "Round " + std::to_string(round) + std::string(round % 97 * 13, '.');
      m.lastError = round % 2 == 0 ? std::optional<std::string>("Tolvane could not reach the service.") : std::nullopt;
    });
    if (!updated) ::_exit(1);
  }
}

TEST(VaultCrashTest, KilledWritersNeverLeaveAnUnreadableRecording) {
  testing::TempDir dir;
  RecordingVault vault(dir / "vault");
  const VaultItem item = vault.createRecording("Crash me", false, false, false);
  std::mt19937 random(20260305);
  std::uniform_int_distribution<int> delayMicros(0, 5'000);
  constexpr int kRounds = 200;
  int attempts = 0;
  for (int round = 0; round < kRounds; ++round) {
    const pid_t writer = startWriter(dir / "vault", item.id());
    ASSERT_GT(writer, 0);
    // Let the writer finish one rewrite first, then kill it at a random moment of the
    // rewrites that follow.
    while (currentAttempts(item) <= attempts) {
      int status = 0;
      ASSERT_EQ(::waitpid(writer, &status, WNOHANG), 0) << "the writer quit in round " << round;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
    ::kill(writer, SIGKILL);
    ASSERT_EQ(::waitpid(writer, nullptr, 0), writer);

    const std::string current = readFile(item.directory / "manifest.json");
    ASSERT_FALSE(current.empty()) << "empty manifest.json after round " << round;
    ASSERT_TRUE(decodeManifest(current) || decodeManifest(readFile(item.directory / "manifest.backup.json")))
        << "both manifests unreadable after round " << round;
    attempts = currentAttempts(item);
  }
  // Every writer got to work, and the vault still reads the recording.
  const auto final = vault.item(item.id());
  ASSERT_TRUE(final);
  EXPECT_GE(final->manifest.attemptCount, kRounds);
}

}  // namespace
}  // namespace tolvane
