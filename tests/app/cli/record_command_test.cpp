// `tolvane-cli record` as a user runs it, against a private Xvfb server; ffprobe judges
// the movie.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "kit/vault/recording_vault.h"
#include "tests/app/movie_probe.h"
#include "tests/app/x11_test_desktop.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb_server.h"

// Windows name only the fields that matter to each case; the rest keep defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::TempDir;
using testing::TestDesktop;

class RecordCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { xvfb = new testing::XvfbServer(1920, 1080); }
  static void TearDownTestSuite() { delete xvfb; }

  std::map<std::string, std::string> environment() const {
    return {{"DISPLAY", xvfb->displayName()}, {"TOLVANE_VAULT_DIR", vaultDirectory.path().string()}};
  }
  static std::vector<std::string> cli(std::vector<std::string> words) {
    words.insert(words.begin(), testing::builtProgram("app/cli/tolvane-cli").string());
    return words;
  }
  testing::CommandResult run(std::vector<std::string> words) const {
    return testing::runCommand(cli(std::move(words)), environment());
  }

  // Starts `record` in the background and waits until it says it is recording; returns
  // the moment it did.
  std::chrono::steady_clock::time_point startRecording(std::vector<std::string> words) {
    recorder = std::make_unique<ChildProcess>(cli(std::move(words)), environment(), log);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline && recorder->isRunning()) {
      if (testing::readFile(log).find("Press Ctrl-C to stop.") != std::string::npos) return std::chrono::steady_clock::now();
      std::this_thread::sleep_for(20ms);
    }
    ADD_FAILURE() << "the recording did not start: " << testing::readFile(log);
    return std::chrono::steady_clock::now();
  }

  std::vector<VaultItem> items() { return RecordingVault(vaultDirectory.path()).all(); }

  static inline testing::XvfbServer* xvfb = nullptr;
  TempDir vaultDirectory;
  TempDir scratch;
  std::filesystem::path log = scratch / "record.log";
  TestDesktop desktop{xvfb->displayName()};
  std::unique_ptr<ChildProcess> recorder;
};

TEST_F(RecordCommandTest, APausedRecordingOfAMovingScreenEndsReadyWithoutTheGap) {
  desktop.animate(desktop.create({.width = 1920, .height = 1080, .color = 0x204060, .applicationClass = "scene"}));
  const auto started = startRecording({"record", "--no-mic", "--no-system-audio"});
  std::this_thread::sleep_until(started + 2s);
  recorder->kill(SIGUSR1);  // pause
  std::this_thread::sleep_until(started + 4s);
  recorder->kill(SIGUSR2);  // resume
  std::this_thread::sleep_until(started + 6s);
  recorder->kill(SIGTERM);  // finishes the file cleanly
  ASSERT_EQ(recorder->wait(30s), 0) << testing::readFile(log);

  auto stored = items();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].manifest.state, RecordingState::ready);
  const auto probed = testing::probeMovie(stored[0].videoPath());
  EXPECT_NEAR(probed.duration, 4.0, 0.5);
  EXPECT_NEAR(stored[0].manifest.durationSec, probed.duration, 0.3);
  EXPECT_EQ(std::pair(probed.width, probed.height), std::pair(1920, 1080));
  // A pause that leaked into the timeline would leave a two-second hole; frame pacing on a
  // busy machine leaves a few hundred milliseconds at most.
  EXPECT_LT(probed.largestVideoGap(), 1.0);
}

TEST_F(RecordCommandTest, ALiveRecordingIsLeftAloneByOtherProcessesAndRecoveredOnceItsRecorderDies) {
  startRecording({"record", "--target", "synthetic-screen", "--no-mic", "--no-system-audio"});
  const std::string id = items().at(0).id();
  EXPECT_NE(run({"recover"}).out.find("Still being recorded by a running Tolvane (left alone): 1"), std::string::npos);
  EXPECT_EQ(run({"vault", "delete", id}).err, "tolvane-cli: Tolvane is still writing “" + items().at(0).manifest.title +
                                                  "” (it is being recorded or trimmed); stop that before moving it to "
                                                  "the Trash.\n");
  EXPECT_EQ(items().at(0).manifest.state, RecordingState::recording);

  recorder->kill(SIGKILL);  // its lock goes with it
  recorder->wait(10s);
  run({"recover"});
  EXPECT_TRUE(items().at(0).manifest.recoveredFromInterruption);
}

TEST_F(RecordCommandTest, NothingToRecordOrAClosedWindowIsRefusedInOneLine) {
  auto env = environment();
  env["DISPLAY"] = testing::XvfbServer::unusedDisplayName();
  auto result = testing::runCommand(cli({"record", "--no-mic", "--no-system-audio", "--seconds", "1"}), env);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "tolvane-cli: Pick a screen or window to record first.\n");
  EXPECT_TRUE(items().empty());  // refused before an item is made

  // A window that closed before the start leaves an item that needs attention.
  const auto window = desktop.create({.width = 640, .height = 480});
  desktop.destroy(window);
  result = run({"record", "--target", "window-" + std::to_string(window), "--no-mic", "--no-system-audio",
                "--seconds", "1"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "tolvane-cli: That window has closed.\n");
  auto stored = items();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].manifest.state, RecordingState::needsAttention);
  EXPECT_EQ(stored[0].manifest.lastError, "That window has closed.");
}

}  // namespace
}  // namespace tolvane
