// `tolvane-cli record` as a user runs it, against a private Xvfb server and PulseAudio
// daemon; ffprobe and ffmpeg judge the movies.
// gtest first: Xlib's None and Bool macros would break its declarations.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
// clang-format on
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <regex>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "kit/vault/recording_vault.h"
#include "tests/support/child_process.h"
#include "tests/support/pulse_daemon.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb_server.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::CommandResult;
using testing::PulseDaemon;
using testing::TempDir;
using testing::XvfbServer;
using testing::builtProgram;
using testing::runCommand;

// A window on the private display that the test draws into: a band that moves across
// it sixty times a second while animated, so the screen changes every frame.
class TestWindow {
 public:
  TestWindow(const std::string& displayName, int width, int height) : display_(XOpenDisplay(displayName.c_str())) {
    if (display_ == nullptr) throw std::runtime_error("cannot open " + displayName);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = 0x204060;
    window_ = XCreateWindow(display_, DefaultRootWindow(display_), 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent, CWBackPixel,
                            &attributes);
    char name[] = "scene";
    XClassHint hint{name, name};
    XSetClassHint(display_, window_, &hint);
    long pid = 1;
    XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    XMapWindow(display_, window_);
    long id = static_cast<long>(window_);
    XChangeProperty(display_, DefaultRootWindow(display_), XInternAtom(display_, "_NET_CLIENT_LIST", False), XA_WINDOW,
                    32, PropModeReplace, reinterpret_cast<unsigned char*>(&id), 1);
    XSync(display_, False);
    width_ = width;
    height_ = height;
  }
  ~TestWindow() {
    stopAnimation();
    if (window_ != 0) XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
  }

  std::string targetID() const { return "window-" + std::to_string(window_); }

  void destroy() {
    XDestroyWindow(display_, window_);
    XDeleteProperty(display_, DefaultRootWindow(display_), XInternAtom(display_, "_NET_CLIENT_LIST", False));
    XSync(display_, False);
    window_ = 0;
  }

  void animate() {
    animating_ = true;
    animation_ = std::thread([this] {
      GC gc = XCreateGC(display_, window_, 0, nullptr);
      for (long frame = 0; animating_; ++frame) {
        XClearWindow(display_, window_);
        XSetForeground(display_, gc, 0xF0F0F0);
        XFillRectangle(display_, window_, gc, static_cast<int>((frame * 16) % width_), 0, 120,
                       static_cast<unsigned>(height_));
        XSync(display_, False);
        std::this_thread::sleep_for(16ms);
      }
      XFreeGC(display_, gc);
    });
  }
  void stopAnimation() {
    animating_ = false;
    if (animation_.joinable()) animation_.join();
  }

 private:
  ::Display* display_;
  ::Window window_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::atomic<bool> animating_{false};
  std::thread animation_;
};

struct Probe {
  double duration = 0;
  int width = 0;
  int height = 0;
  std::vector<double> videoTimes;
  bool hasAudio = false;
  double audioDuration = 0;
};

Probe probe(const std::filesystem::path& movie) {
  auto result = runCommand({"ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", movie.string()});
  EXPECT_EQ(result.status, 0) << result.err;
  auto json = nlohmann::json::parse(result.out);
  Probe probe;
  probe.duration = std::stod(json["format"]["duration"].get<std::string>());
  for (const auto& stream : json["streams"]) {
    if (stream["codec_type"] == "video") {
      probe.width = stream["width"];
      probe.height = stream["height"];
    } else if (stream["codec_type"] == "audio") {
      probe.hasAudio = true;
      probe.audioDuration = std::stod(stream.value("duration", "0"));
    }
  }
  // Video packet times, in presentation order.
  std::istringstream lines(runCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                       "packet=pts_time", "-of", "csv=p=0", movie.string()}).out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line != "N/A") probe.videoTimes.push_back(std::stod(line));
  }
  std::sort(probe.videoTimes.begin(), probe.videoTimes.end());
  return probe;
}

double largestGap(const std::vector<double>& times) {
  double gap = 0;
  for (std::size_t i = 1; i < times.size(); ++i) gap = std::max(gap, times[i] - times[i - 1]);
  return gap;
}

// What ffmpeg reports (on stderr) after passing the audio through `filter`.
std::string audioReport(const std::filesystem::path& movie, const std::string& filter) {
  return runCommand({"ffmpeg", "-nostdin", "-v", "info", "-i", movie.string(), "-map", "0:a", "-af", filter, "-f",
                     "null", "-"}).err;
}

// Mean volume in dB of the audio, optionally through an ffmpeg filter first.
double meanVolume(const std::filesystem::path& movie, const std::string& filter = "") {
  const std::string report = audioReport(movie, (filter.empty() ? "" : filter + ",") + "volumedetect");
  std::smatch match;
  if (!std::regex_search(report, match, std::regex("mean_volume: (-?[0-9.]+) dB"))) return -200;
  return std::stod(match[1]);
}

// Silent stretches (below -40 dB for at least 0.2 s) that ffmpeg finds in the audio.
int silences(const std::filesystem::path& movie) {
  const std::string report = audioReport(movie, "silencedetect=noise=-40dB:d=0.2");
  int count = 0;
  for (std::size_t at = 0; (at = report.find("silence_start", at)) != std::string::npos; ++at) ++count;
  return count;
}

class RecordCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    xvfb = new XvfbServer(1920, 1080);
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
  std::vector<std::string> cli(std::vector<std::string> words) const {
    words.insert(words.begin(), builtProgram("app/cli/tolvane-cli").string());
    return words;
  }
  CommandResult run(std::vector<std::string> words) const { return runCommand(cli(std::move(words)), environment()); }

  // A 440 Hz sine (ffmpeg's, at an eighth of full scale) playing into the null sink, so
  // the computer's sound carries it.
  std::unique_ptr<ChildProcess> playSine() {
    const auto wav = scratch.path() / "sine.wav";
    if (!std::filesystem::exists(wav)) {
      auto made = runCommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=60",
                              "-ac", "2", "-ar", "48000", wav.string()});
      EXPECT_EQ(made.status, 0) << made.err;
    }
    auto player = std::make_unique<ChildProcess>(
        std::vector<std::string>{"paplay", "--device", PulseDaemon::sinkName, wav.string()}, pulse->clientEnvironment());
    std::this_thread::sleep_for(300ms);
    return player;
  }

  // Starts `record` in the background and waits until it says it is recording; returns
  // the moment it did.
  std::chrono::steady_clock::time_point startRecording(std::vector<std::string> words) {
    log = scratch.path() / "record.log";
    recorder = std::make_unique<ChildProcess>(cli(std::move(words)), environment(), log);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (testing::readFile(log).find("Press Ctrl-C to stop.") != std::string::npos) return std::chrono::steady_clock::now();
      if (!recorder->isRunning()) break;
      std::this_thread::sleep_for(20ms);
    }
    ADD_FAILURE() << "the recording did not start";
    return std::chrono::steady_clock::now();
  }

  std::vector<VaultItem> items() { return RecordingVault(vaultDirectory.path()).all(); }

  static inline XvfbServer* xvfb = nullptr;
  static inline PulseDaemon* pulse = nullptr;
  TempDir vaultDirectory;
  TempDir scratch;
  std::filesystem::path log;
  std::unique_ptr<ChildProcess> recorder;
};

TEST_F(RecordCommandTest, FiveSecondsOfAMovingScreenWithTheComputersSound) {
  TestWindow scene(xvfb->displayName(), 1920, 1080);
  scene.animate();
  auto player = playSine();
  auto result = run({"record", "--no-mic", "--system-audio", "--seconds", "5", "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  auto output = nlohmann::json::parse(result.out);
  const std::filesystem::path movie = output["file"].get<std::string>();

  Probe probed = probe(movie);
  EXPECT_NEAR(probed.duration, 5.0, 0.3);
  EXPECT_EQ(probed.width, 1920);
  EXPECT_EQ(probed.height, 1080);
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
  TestWindow scene(xvfb->displayName(), 1920, 1080);
  scene.animate();
  auto player = playSine();
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
  const auto movie = stored[0].videoURL();
  Probe probed = probe(movie);
  EXPECT_NEAR(probed.duration, 4.0, 0.5);
  EXPECT_LT(largestGap(probed.videoTimes), 0.25);
  ASSERT_TRUE(probed.hasAudio);
  EXPECT_NEAR(probed.audioDuration, probed.duration, 0.4);
  EXPECT_EQ(silences(movie), 0);
}

TEST_F(RecordCommandTest, AStaticScreenStillYieldsAboutFiveFramesASecond) {
  TestWindow still(xvfb->displayName(), 1920, 1080);
  auto result = run({"record", "--no-mic", "--no-system-audio", "--seconds", "3", "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  Probe probed = probe(nlohmann::json::parse(result.out)["file"].get<std::string>());
  const double rate = static_cast<double>(probed.videoTimes.size()) / probed.duration;
  EXPECT_GT(rate, 3.5);
  EXPECT_LT(rate, 7.5);
  EXPECT_LT(largestGap(probed.videoTimes), 0.5);
  EXPECT_FALSE(probed.hasAudio);
}

TEST_F(RecordCommandTest, NothingToRecordAClosedWindowOrAMissingCameraIsRefusedInOneLine) {
  auto env = environment();
  env["DISPLAY"] = XvfbServer::unusedDisplayName();
  auto result = runCommand(cli({"record", "--no-mic", "--no-system-audio", "--seconds", "1"}), env);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "tolvane-cli: Pick a screen or window to record first.\n");
  EXPECT_TRUE(items().empty());  // refused before an item is made

  // A window that closed before the start leaves an item that needs attention.
  TestWindow window(xvfb->displayName(), 640, 480);
  const std::string target = window.targetID();
  window.destroy();
  result = run({"record", "--target", target, "--no-mic", "--no-system-audio", "--seconds", "1"});
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
  TestWindow scene(xvfb->displayName(), 1920, 1080);
  scene.animate();
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
  EXPECT_EQ(stored[0].manifest.state, RecordingState::ready);
  EXPECT_NEAR(stored[0].manifest.durationSec, 4.0, 2.0);
  EXPECT_EQ(run({"recover"}).out, "No interrupted recordings.\n");
}

}  // namespace
}  // namespace tolvane
