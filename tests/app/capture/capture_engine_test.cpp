// The capture engine with sources the test drives by hand and a clock it sets, writing
// real movie files that ffprobe judges.
#include "app/capture/capture_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/capture/sources/capture_source_error.h"
#include "kit/base/memory_log_sink.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using testing::runCommand;

constexpr int targetWidth = 64;
constexpr int targetHeight = 36;

class FakeScreen : public ScreenSource {
 public:
  explicit FakeScreen(ScreenCaptureSettings settings) : settings_(settings) {}
  void start(FrameHandler onFrame, FailureHandler onFailure) override {
    std::lock_guard lock(mutex_);
    onFrame_ = std::move(onFrame);
    onFailure_ = std::move(onFailure);
  }
  void stop() override {
    std::lock_guard lock(mutex_);
    onFrame_ = nullptr;
    onFailure_ = nullptr;
  }
  const ScreenCaptureSettings& settings() const override { return settings_; }

  void deliver(double hostTime) {
    VideoFrame frame = VideoFrame::allocate(settings_.width, settings_.height);
    frame.fill(90, 90, 90, 255);
    std::lock_guard lock(mutex_);
    if (onFrame_) onFrame_(ScreenFrame{frame, hostTime, FrameStatus::complete});
  }
  void deliverIdle(double hostTime) {
    std::lock_guard lock(mutex_);
    if (onFrame_) onFrame_(ScreenFrame{VideoFrame(), hostTime, FrameStatus::idle});
  }
  void failWith(const std::string& message) {
    std::lock_guard lock(mutex_);
    if (onFailure_) onFailure_(message);
  }

 private:
  ScreenCaptureSettings settings_;
  std::mutex mutex_;
  FrameHandler onFrame_;
  FailureHandler onFailure_;
};

class FakeMicrophone : public AudioSource {
 public:
  void start(BufferHandler onBuffer, FailureHandler) override {
    std::lock_guard lock(mutex_);
    onBuffer_ = std::move(onBuffer);
  }
  void stop() override {
    std::lock_guard lock(mutex_);
    onBuffer_ = nullptr;
  }
  // `seconds` of a 440 Hz tone at quarter scale, stamped from `hostTime`, in 10 ms buffers.
  void deliverTone(double hostTime, double seconds) {
    for (int b = 0; b < static_cast<int>(std::lround(seconds * 100)); ++b) {
      CapturedAudio audio;
      audio.presentationTime = hostTime + b * 0.01;
      for (int i = 0; i < 480; ++i) {
        auto value = static_cast<float>(0.25 * std::sin(2 * M_PI * 440 * (b * 480 + i) / 48000.0));
        audio.samples.insert(audio.samples.end(), {value, value});
      }
      std::lock_guard lock(mutex_);
      if (onBuffer_) onBuffer_(audio);
    }
  }

 private:
  std::mutex mutex_;
  BufferHandler onBuffer_;
};

class FakeCamera : public CameraSource {
 public:
  void start(FrameHandler onFrame, FailureHandler) override { onFrame_ = std::move(onFrame); }
  void stop() override {}
  FrameHandler onFrame_;
};

// Hands out fakes and keeps pointers to them so the test can drive them.
class FakeFactory : public SourceFactory {
 public:
  std::unique_ptr<ScreenSource> openScreen(const CaptureTarget& target, const ScreenCaptureSettings& settings) override {
    if (target.isWindow() && target.asWindow().windowID == 404) {
      throw CaptureSourceError(CaptureSourceError::Kind::targetGone, "That window has closed.");
    }
    openedSettings = settings;
    auto made = std::make_unique<FakeScreen>(settings);
    screen = made.get();
    return made;
  }
  std::unique_ptr<AudioSource> openMicrophone(const std::optional<std::string>&) override {
    auto made = std::make_unique<FakeMicrophone>();
    microphone = made.get();
    return made;
  }
  std::unique_ptr<AudioSource> openSystemAudio() override { return std::make_unique<FakeMicrophone>(); }
  std::unique_ptr<CameraSource> openCamera(const std::string& id) override {
    if (id != "cam") throw CaptureSourceError(CaptureSourceError::Kind::deviceUnavailable, "Tolvane couldn't find that camera.");
    auto made = std::make_unique<FakeCamera>();
    camera = made.get();
    return made;
  }

  ScreenCaptureSettings openedSettings;
  FakeScreen* screen = nullptr;
  FakeMicrophone* microphone = nullptr;
  FakeCamera* camera = nullptr;
};

class RecordingDelegate : public CaptureEngineDelegate {
 public:
  void captureEngineDidFail(CaptureEngine&, const std::runtime_error& error) override {
    std::lock_guard lock(mutex);
    messages.push_back(error.what());
  }
  std::mutex mutex;
  std::vector<std::string> messages;
};

std::string probe(const std::filesystem::path& movie, const std::string& stream, const std::string& entries) {
  return runCommand({"ffprobe", "-v", "error", "-select_streams", stream, "-show_entries", entries, "-of", "csv=p=0",
                     movie.string()})
      .out;
}

std::vector<double> videoFrameTimes(const std::filesystem::path& movie) {
  std::vector<double> times;
  std::istringstream lines(probe(movie, "v:0", "packet=pts_time"));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) times.push_back(std::stod(line));
  }
  std::sort(times.begin(), times.end());
  return times;
}

// The first decoded pixel (R, G, B) at (x, y) of the frame at `time`.
std::array<int, 3> pixelAt(const std::filesystem::path& movie, double time, int x, int y) {
  auto result = runCommand({"ffmpeg", "-nostdin", "-v", "error", "-ss", std::to_string(time), "-i", movie.string(),
                            "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
  const std::size_t offset = (static_cast<std::size_t>(y) * targetWidth + static_cast<std::size_t>(x)) * 3;
  if (result.out.size() < offset + 3) return {-1, -1, -1};
  auto byte = [&](std::size_t i) { return static_cast<int>(static_cast<unsigned char>(result.out[offset + i])); };
  return {byte(0), byte(1), byte(2)};
}

class CaptureEngineTest : public ::testing::Test {
 protected:
  std::unique_ptr<CaptureEngine> makeEngine(RecordingOptions options) {
    auto engine = std::make_unique<CaptureEngine>(std::move(options), movie, factory, [this] { return now(); });
    engine->setTimersEnabled(false);
    return engine;
  }
  static RecordingOptions displayOptions() {
    RecordingOptions options;
    options.target = CaptureTarget::display(1, "Main display", targetWidth, targetHeight);
    return options;
  }
  double now() {
    std::lock_guard lock(clockMutex);
    return hostNow;
  }
  void setNow(double value) {
    std::lock_guard lock(clockMutex);
    hostNow = value;
  }
  // Waits until the writer has taken `frames` frames in all and has room for another.
  // The writer drops frames that come faster than it encodes, as it should for a live
  // source; the tests pace themselves instead, so that every frame they send is written.
  void waitForWriter(CaptureEngine& engine, std::int64_t frames) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      auto statistics = engine.statistics();
      const bool taken = statistics.framesWritten + statistics.framesDropped >= frames;
      if ((taken && engine.isWriterReady()) || std::chrono::steady_clock::now() > deadline) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // Sends one frame at host time `t`, lets the engine handle it and, when `expectedFrames`
  // is given, waits until the writer has taken that many.
  void deliverFrame(CaptureEngine& engine, double t, std::optional<std::int64_t> expectedFrames = std::nullopt) {
    setNow(t);
    factory->screen->deliver(t);
    engine.fireIdleFrameTimer();
    if (expectedFrames) waitForWriter(engine, *expectedFrames);
  }
  // 30 fps from host time `from` up to (not including) `to`; `appended`: expected in the
  // file (not paused).
  void deliverFrames(CaptureEngine& engine, double from, double to, bool appended = true) {
    for (int i = 0; from + i / 30.0 < to - 1e-9; ++i) {
      if (appended) ++framesSent;
      deliverFrame(engine, from + i / 30.0, appended ? std::optional(framesSent) : std::nullopt);
    }
  }
  void deliverTone(CaptureEngine& engine, double from, double seconds) {
    factory->microphone->deliverTone(from, seconds);
    engine.fireAudioDrainTimer();
  }

  testing::TempDir directory;
  std::filesystem::path movie = directory.path() / "recording.mp4";
  std::shared_ptr<FakeFactory> factory = std::make_shared<FakeFactory>();
  std::mutex clockMutex;
  double hostNow = 1000;
  std::int64_t framesSent = 0;
};

TEST(CaptureEngineOutputSize, ScalesDownToTheLongEdgeNeverUpWithEvenSides) {
  const std::array<int, 4> cases[] = {{3456, 2234, 2560, 1654}, {1366, 768, 1366, 768}, {5120, 2880, 2560, 1440},
                                      {1, 1, 2, 2},             {1921, 1081, 1920, 1080}, {0, 0, 2, 2}};
  for (auto [w, h, expectedW, expectedH] : cases) {
    Size size = CaptureEngine::outputSize(w, h, 2560);
    EXPECT_EQ(size.width, expectedW) << w << "x" << h;
    EXPECT_EQ(size.height, expectedH) << w << "x" << h;
  }
}

TEST_F(CaptureEngineTest, StartOpensTheScreenAtTheOutputSizeAndRateAndLogs) {
  auto log = MemoryLogSink::attach();
  RecordingOptions options = displayOptions();
  options.target = CaptureTarget::display(1, "Main display", 3456, 2234);
  options.frameRate = 24;
  makeEngine(options)->start();
  EXPECT_EQ(factory->openedSettings.width, 2560);
  EXPECT_EQ(factory->openedSettings.height, 1654);
  EXPECT_EQ(factory->openedSettings.frameRate, 24);
  EXPECT_TRUE(factory->openedSettings.showsCursor);
  EXPECT_TRUE(log->contains("capture", LogLevel::info, "recording started: 2560x1654 @24"));
}

TEST_F(CaptureEngineTest, AClosedWindowAndAMissingCameraRefuseToStartWithTheirSentences) {
  RecordingOptions window = displayOptions();
  window.target = CaptureTarget::window(404, "Notes", "editor", 400, 300);
  RecordingOptions camera = displayOptions();
  camera.cameraID = "no-such-camera";
  const std::tuple<RecordingOptions, CaptureError::Kind, std::string> cases[] = {
      {window, CaptureError::Kind::targetGone, "That window has closed."},
      {camera, CaptureError::Kind::deviceUnavailable, "Tolvane couldn't find that camera."}};
  for (const auto& [options, kind, message] : cases) {
    try {
      makeEngine(options)->start();
      ADD_FAILURE() << "started: " << message;
    } catch (const CaptureError& error) {
      EXPECT_EQ(error.kind(), kind);
      EXPECT_EQ(error.what(), message);
    }
    // A window is checked before the file is made.
    EXPECT_TRUE(kind != CaptureError::Kind::targetGone || !std::filesystem::exists(movie));
  }
}

TEST_F(CaptureEngineTest, AStaticScreenIsResentAboutFiveTimesASecondAndNoMicMeansNoAudio) {
  auto engine = makeEngine(displayOptions());
  engine->start();
  deliverFrame(*engine, hostNow, 1);  // too early to resend
  for (int tick = 1; tick <= 10; ++tick) {
    setNow(1000 + tick * 0.2);
    factory->screen->deliverIdle(hostNow);
    engine->fireIdleFrameTimer();
    engine->fireIdleFrameTimer();  // a second tick at the same moment adds nothing
    waitForWriter(*engine, tick + 1);
  }
  EXPECT_DOUBLE_EQ(engine->stop(), 2.0);
  EXPECT_EQ(engine->statistics().framesRepeated, 10);
  auto times = videoFrameTimes(movie);
  ASSERT_EQ(times.size(), 11u);
  for (std::size_t i = 1; i < times.size(); ++i) EXPECT_NEAR(times[i] - times[i - 1], 0.2, 0.01);
  EXPECT_EQ(probe(movie, "a", "stream=codec_type"), "");
}

TEST_F(CaptureEngineTest, BackwardsOrRepeatedFramesAreDroppedAndStopImmediatelyLeavesAPlayableFile) {
  auto engine = makeEngine(displayOptions());
  engine->start();
  const std::pair<double, int> frames[] = {{0.0, 1}, {0.1, 2}, {0.1, 2}, {0.05, 2}, {0.2, 3}, {0.2001, 3}};
  for (auto [time, expected] : frames) deliverFrame(*engine, 1000 + time, expected);
  engine->stopImmediately();
  EXPECT_EQ(engine->stop(), engine->duration());  // already stopped: returns at once
  EXPECT_EQ(videoFrameTimes(movie).size(), 3u);
}

TEST_F(CaptureEngineTest, APauseLeavesNoGapInVideoOrSound) {
  RecordingOptions options = displayOptions();
  options.microphoneID = "mic";
  auto engine = makeEngine(options);
  engine->start();
  deliverTone(*engine, 1000, 1.0);
  deliverFrames(*engine, 1000, 1001);
  setNow(1001);
  engine->pause();
  EXPECT_TRUE(engine->isPaused());
  deliverTone(*engine, 1001, 10.0);           // dropped
  deliverFrames(*engine, 1001, 1011, false);  // dropped
  setNow(1011);
  engine->resume();
  deliverTone(*engine, 1011, 1.0);
  deliverFrames(*engine, 1011, 1012);
  setNow(1012);
  engine->fireAudioDrainTimer();
  EXPECT_NEAR(engine->stop(), 2.0, 0.05);

  auto times = videoFrameTimes(movie);
  ASSERT_EQ(times.size(), 60u);
  double largestGap = 0;
  for (std::size_t i = 1; i < times.size(); ++i) largestGap = std::max(largestGap, times[i] - times[i - 1]);
  EXPECT_LT(largestGap, 0.05);
  // The sound is as long as the picture: the paused ten seconds are not in it.
  EXPECT_NEAR(std::stod(probe(movie, "a:0", "stream=duration")), 2.0, 0.1);
}

TEST_F(CaptureEngineTest, AScreenFailureIsReportedOnceAndStopTwiceLogsOnce) {
  auto log = MemoryLogSink::attach();
  auto delegate = std::make_shared<RecordingDelegate>();
  RecordingOptions options = displayOptions();
  options.microphoneID = "silent";
  auto engine = makeEngine(options);
  engine->setDelegate(delegate);
  engine->start();
  deliverFrames(*engine, 1000, 1001.01);
  factory->screen->failWith("That window has closed.");
  engine->fireIdleFrameTimer();
  EXPECT_TRUE(log->contains("capture", LogLevel::error, "capture failed: That window has closed."));

  EXPECT_DOUBLE_EQ(engine->stop(), 1.0);
  EXPECT_DOUBLE_EQ(engine->stop(), 1.0);
  auto lines = log->messages("capture");
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "recording stopped at 1.00s \u2014 mic 0 frames, system 0 frames, 0 unreadable audio buffers, 0 late"),
            1);
  EXPECT_TRUE(log->contains("capture", LogLevel::error, "microphone was enabled but produced no audio"));
  // After stop, capture and failures are ignored and pause has no effect.
  factory->screen->deliver(1002);
  factory->screen->failWith("ignored");
  engine->pause();
  EXPECT_FALSE(engine->isPaused());
  std::lock_guard lock(delegate->mutex);
  EXPECT_EQ(delegate->messages, std::vector<std::string>{"That window has closed."});
}

TEST_F(CaptureEngineTest, AnnotationsAndTheCameraBubbleAreCompositedFromTheNextFrameOn) {
  RecordingOptions options = displayOptions();
  options.cameraID = "cam";
  options.bubble = BubbleLayout{{0.5, 0.5}, 0.4};
  auto engine = makeEngine(options);
  engine->start();
  deliverFrames(*engine, 1000, 1001);  // plain grey: no camera picture yet

  VideoFrame red = VideoFrame::allocate(8, 8);
  red.fill(0, 0, 255, 255);
  engine->updateAnnotations(red, {});
  deliverFrames(*engine, 1001, 1002);

  VideoFrame green = VideoFrame::allocate(32, 32);
  green.fill(0, 255, 0, 255);
  engine->updateAnnotations(VideoFrame(), {});
  factory->camera->onFrame_(green);
  engine->fireIdleFrameTimer();
  deliverFrames(*engine, 1002, 1003);
  engine->stop();

  auto grey = pixelAt(movie, 0.5, 4, 4);
  EXPECT_NEAR(grey[0], 90, 12);
  EXPECT_NEAR(grey[1], 90, 12);
  auto annotated = pixelAt(movie, 1.5, 4, 4);
  EXPECT_GT(annotated[0], 180);
  EXPECT_LT(annotated[1], 80);
  auto bubbleCentre = pixelAt(movie, 2.5, targetWidth / 2, targetHeight / 2);
  EXPECT_GT(bubbleCentre[1], 180);
  EXPECT_LT(bubbleCentre[0], 80);
  EXPECT_NEAR(pixelAt(movie, 2.5, 2, 2)[1], 90, 12);  // outside the bubble
}

}  // namespace
}  // namespace tolvane
