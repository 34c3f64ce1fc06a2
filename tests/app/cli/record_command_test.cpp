// `tolvane-cli record` as a user runs it, against a private Xvfb server and PulseAudio
// daemon; ffprobe and ffmpeg judge the movies.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>
#include <thread>

#include <nlohmann/json.hpp>

#include "kit/vault/recording_vault.h"
#include "tests/app/movie_probe.h"
#include "tests/app/x11_test_desktop.h"
#include "tests/support/pulse_daemon.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb_server.h"

// Windows name only the fields that matter to each case; the rest keep defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::PulseDaemon;
using testing::TempDir;
using testing::TestDesktop;

// What ffmpeg reports (on stderr) after passing the audio through `filter`.
std::string audioReport(const std::filesystem::path& movie, const std::string& filter) {
  return testing::runCommand({"ffmpeg", "-nostdin", "-v", "info", "-i", movie.string(), "-map", "0:a", "-af", filter,
                              "-f", "null", "-"}).err;
}

// Mean volume in dB of the audio, optionally through an ffmpeg filter first.
double meanVolume(const std::filesystem::path& movie, const std::string& filter = "") {
  const std::string report = audioReport(movie, (filter.empty() ? "" : filter + ",") + "volumedetect");
  std::smatch match;
  if (!std::regex_search(report, match, std::regex("mean_volume: (-?[0-9.]+) dB"))) return -200;
  return std::stod(match[1]);
}

class RecordCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    xvfb = new testing::XvfbServer(1920, 1080);
    pulse = new PulseDaemon();
  }
  static void TearDownTestSuite() {
    delete pulse;
    delete xvfb;
  }

  std::map<std::string, std::string> environment() const {
    auto env = pulse->clientEnvironment();
    env["DISPLAY"] = xvfb->displayName();
    env["TOLVANE_VAULT_DIR"] = vaultDirectory.path().string();
    return env;
  }
  static std::vector<std::string> cli(std::vector<std::string> words) {
    words.insert(words.begin(), testing::builtProgram("app/cli/tolvane-cli").string());
    return words;
  }
  testing::CommandResult run(std::vector<std::string> words) const {
    return testing::runCommand(cli(std::move(words)), environment());
  }

  // A full-screen window whose picture changes in every frame, and (with `sound`) a
  // 440 Hz sine (ffmpeg's, at an eighth of full scale) playing into the null sink, so the
  // computer's sound carries it.
  void playScene(bool sound) {
    desktop.animate(desktop.create({.width = 1920, .height = 1080, .color = 0x204060, .applicationClass = "scene"}));
    if (!sound) return;
    const auto wav = scratch / "sine.wav";
    auto made = testing::runCommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                     "sine=frequency=440:duration=60", "-ac", "2", "-ar", "48000", wav.string()});
    ASSERT_EQ(made.status, 0) << made.err;
    player = std::make_unique<ChildProcess>(
        std::vector<std::string>{"paplay", "--device", PulseDaemon::sinkName, wav.string()}, pulse->clientEnvironment());
    std::this_thread::sleep_for(300ms);
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
  static inline PulseDaemon* pulse = nullptr;
  TempDir vaultDirectory;
  TempDir scratch;
  std::filesystem::path log = scratch / "record.log";
  TestDesktop desktop{xvfb->displayName()};
  std::unique_ptr<ChildProcess> player;
  std::unique_ptr<ChildProcess> recorder;
};

TEST_F(RecordCommandTest, FiveSecondsOfAMovingScreenWithTheComputersSound) {
  playScene(true);
  auto result = run({"record", "--no-mic", "--system-audio", "--seconds", "5", "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  auto output = nlohmann::json::parse(result.out);
  const std::filesystem::path movie = output["file"].get<std::string>();

  const auto probed = testing::probeMovie(movie);
  EXPECT_NEAR(probed.duration, 5.0, 0.3);
  EXPECT_EQ(std::pair(probed.width, probed.height), std::pair(1920, 1080));
  EXPECT_GE(probed.videoTimes.size(), 140u);
  ASSERT_TRUE(probed.hasAudio);
  // ffmpeg's sine at an eighth of full scale has a mean volume of about -21 dB; nearly
  // all of it passes a narrow band around 440 Hz.
  const double volume = meanVolume(movie);
  EXPECT_GT(volume, -30);
  EXPECT_GT(meanVolume(movie, "bandpass=f=440:width_type=h:w=60"), volume - 4);

  auto stored = items();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].id(), output["id"]);
  EXPECT_EQ(stored[0].manifest.state, RecordingState::ready);
  EXPECT_NEAR(stored[0].manifest.durationSec, probed.duration, 0.3);
  EXPECT_TRUE(stored[0].manifest.hasSystemAudio);
  EXPECT_FALSE(stored[0].manifest.hasMicrophone);
}

TEST_F(RecordCommandTest, APauseShortensTheFileWithoutAGapInPictureOrSound) {
  playScene(true);
  const auto started = startRecording({"record", "--no-mic", "--system-audio", "--json"});
  std::this_thread::sleep_until(started + 2s);
  recorder->kill(SIGUSR1);  // pause
  std::this_thread::sleep_until(started + 4s);
  recorder->kill(SIGUSR2);  // resume
  std::this_thread::sleep_until(started + 6s);
  recorder->kill(SIGTERM);  // finishes the file cleanly
  ASSERT_EQ(recorder->wait(30s), 0) << testing::readFile(log);

  auto stored = items();
  ASSERT_EQ(stored.size(), 1u);
  const auto probed = testing::probeMovie(stored[0].videoPath());
  EXPECT_NEAR(probed.duration, 4.0, 0.5);
  EXPECT_LT(probed.largestVideoGap(), 0.25);
  ASSERT_TRUE(probed.hasAudio);
  EXPECT_NEAR(probed.audioDuration, probed.duration, 0.4);
  // No silent stretch (below -40 dB for 0.2 s) where the pause was.
  EXPECT_EQ(audioReport(stored[0].videoPath(), "silencedetect=noise=-40dB:d=0.2").find("silence_start"),
            std::string::npos);
}

TEST_F(RecordCommandTest, AStaticScreenStillYieldsAboutFiveFramesASecond) {
  desktop.create({.width = 1920, .height = 1080, .color = 0x204060});
  auto result = run({"record", "--no-mic", "--no-system-audio", "--seconds", "3", "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto probed = testing::probeMovie(nlohmann::json::parse(result.out)["file"].get<std::string>());
  const double rate = static_cast<double>(probed.videoTimes.size()) / probed.duration;
  EXPECT_GT(rate, 3.5);
  EXPECT_LT(rate, 7.5);
  EXPECT_LT(probed.largestVideoGap(), 0.5);
  EXPECT_FALSE(probed.hasAudio);
}

TEST_F(RecordCommandTest, NothingToRecordAClosedWindowOrAMissingCameraIsRefusedInOneLine) {
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

  result = run({"record", "--camera", "/dev/v4l/by-id/no-such-camera", "--no-mic", "--no-system-audio", "--seconds",
                "1"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "tolvane-cli: Tolvane couldn't find that camera.\n");
}

TEST_F(RecordCommandTest, ARecordingKilledOutrightIsRecoveredWithItsDuration) {
  playScene(false);
  const auto started = startRecording({"record", "--no-mic", "--no-system-audio"});
  std::this_thread::sleep_until(started + 4s);
  recorder->kill(SIGKILL);
  recorder->wait(10s);

  ASSERT_EQ(items().size(), 1u);
  EXPECT_EQ(items()[0].manifest.state, RecordingState::recording);
  auto recovered = run({"recover", "--json"});
  ASSERT_EQ(recovered.status, 0) << recovered.err;
  auto stored = items();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(recovered.out)["recovered"], nlohmann::json::array({stored[0].id()}));
  EXPECT_EQ(stored[0].manifest.state, RecordingState::ready);
  EXPECT_NEAR(stored[0].manifest.durationSec, 4.0, 2.0);
  EXPECT_EQ(run({"recover"}).out, "No interrupted recordings.\n");
}

}  // namespace
}  // namespace tolvane
