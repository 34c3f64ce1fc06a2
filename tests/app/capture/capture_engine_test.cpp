// The capture engine with sources the test drives by hand and a clock it sets, writing
// real movie files that ffprobe judges. Pausing, refusals and real sources are judged
// end to end by the `record` command's tests.
#include "app/capture/capture_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <iostream>
#include <mutex>
#include <thread>

#include "kit/base/memory_log_sink.h"
#include "tests/app/capture/fake_sources.h"
#include "tests/app/movie_probe.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

constexpr int targetWidth = 64;
constexpr int targetHeight = 36;

class RecordingDelegate : public CaptureEngineDelegate {
 public:
  void captureEngineDidFail(CaptureEngine&, const std::runtime_error& error) override {
    std::lock_guard lock(mutex);
    messages.push_back(error.what());
  }
  std::mutex mutex;
  std::vector<std::string> messages;
};

class CaptureEngineTest : public ::testing::Test {
 protected:
  void start(RecordingOptions options = displayOptions()) {
    framesSent = 0;
    engine = std::make_unique<CaptureEngine>(std::move(options), movie, factory, [this] { return hostNow.load(); });
    engine->setTimersEnabled(false);
    engine->setDelegate(delegate);
    // A progress view reads the statistics while the engine starts.
    std::jthread progress([this](std::stop_token stop) {
      while (!stop.stop_requested()) engine->statistics();
    });
    engine->start();
  }
  static RecordingOptions displayOptions() {
    RecordingOptions options;
    options.target = CaptureTarget::display(1, "Main display", targetWidth, targetHeight);
    return options;
  }
  // Waits until the writer has taken `frames` frames in all and has room for another.
  // The writer drops frames that come faster than it encodes, as it should for a live
  // source; the tests pace themselves instead, so that every frame they send is written.
  void waitForWriter(std::int64_t frames) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      auto statistics = engine->statistics();
      const bool taken = statistics.framesWritten + statistics.framesDropped >= frames;
      if ((taken && engine->isWriterReady()) || std::chrono::steady_clock::now() > deadline) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // Sends one frame at host time `t`, lets the engine handle it and waits until the
  // writer has taken `expectedFrames` in all.
  void deliverFrame(double t, std::int64_t expectedFrames) {
    hostNow = t;
    factory->screen->deliver(t);
    engine->fireIdleFrameTimer();
    waitForWriter(expectedFrames);
  }
  // 30 fps from host time `from` up to (not including) `to`; `live`: at a live screen's
  // pace rather than as fast as the writer takes them.
  void deliverFrames(double from, double to, bool live = false) {
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; from + i / 30.0 < to - 1e-9; ++i) {
      if (live) std::this_thread::sleep_until(started + i * std::chrono::microseconds(33'333));
      deliverFrame(from + i / 30.0, ++framesSent);
    }
  }

  testing::TempDir directory;
  std::filesystem::path movie = directory.path() / "recording.mp4";
  std::shared_ptr<testing::FakeFactory> factory = std::make_shared<testing::FakeFactory>();
  std::atomic<double> hostNow = 1000;
  std::int64_t framesSent = 0;
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::unique_ptr<CaptureEngine> engine;
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

TEST_F(CaptureEngineTest, StaleFramesAreDroppedAndAStaticScreenIsResentFiveTimesASecond) {
  start();
  // Backwards, repeated or too close to the last frame: dropped. The idle tick that
  // follows each frame is too early to resend it.
  const std::pair<double, int> frames[] = {{0.0, 1}, {0.1, 2}, {0.1, 2}, {0.05, 2}, {0.2, 3}, {0.2001, 3}};
  for (auto [time, expected] : frames) deliverFrame(1000 + time, expected);
  for (int tick = 1; tick <= 5; ++tick) {
    hostNow = 1000.2 + tick * 0.2;
    factory->screen->send(ScreenFrame{VideoFrame(), hostNow, FrameStatus::idle});
    engine->fireIdleFrameTimer();
    engine->fireIdleFrameTimer();  // a second tick at the same moment adds nothing
    waitForWriter(3 + tick);
  }
  engine->stopImmediately();
  EXPECT_NEAR(engine->stop(), 1.2, 1e-6);  // already stopped: returns at once
  EXPECT_EQ(engine->statistics().framesRepeated, 5);
  const auto probed = testing::probeMovie(movie);
  ASSERT_EQ(probed.videoTimes.size(), 8u);
  for (std::size_t i = 3; i < 8; ++i) EXPECT_NEAR(probed.videoTimes[i] - probed.videoTimes[i - 1], 0.2, 0.01);
  EXPECT_FALSE(probed.hasAudio);  // no microphone, no audio
}

TEST_F(CaptureEngineTest, StartOpensTheScreenAndAFailureIsReportedOnceAndStopTwiceLogsOnce) {
  auto log = MemoryLogSink::attach();
  RecordingOptions options = displayOptions();
  options.microphoneID = "silent";
  options.frameRate = 24;
  start(options);
  EXPECT_TRUE(factory->openedSettings.showsCursor);
  EXPECT_TRUE(log->contains("capture", LogLevel::info, "recording started: 64x36 @24"));  // the size and rate opened
  deliverFrames(1000, 1001.01);
  factory->screen->fail("That window has closed.");
  engine->fireIdleFrameTimer();
  EXPECT_TRUE(log->contains("capture", LogLevel::error, "capture failed: That window has closed."));

  EXPECT_DOUBLE_EQ(engine->stop(), 1.0);
  EXPECT_DOUBLE_EQ(engine->stop(), 1.0);
  auto lines = log->messages("capture");
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "recording stopped at 1.00s \u2014 mic 0 frames, system 0 frames, 0 unreadable audio buffers, 0 late"),
            1);
  EXPECT_TRUE(log->contains("capture", LogLevel::error, "microphone was enabled but produced no audio"));
  // After stop, pause has no effect (the sources are gone: see the hung screen below).
  engine->pause();
  EXPECT_FALSE(engine->isPaused());
  std::lock_guard lock(delegate->mutex);
  EXPECT_EQ(delegate->messages, std::vector<std::string>{"That window has closed."});
}

TEST_F(CaptureEngineTest, SystemSoundThatIsMissingOrStopsIsToldAndTheRecordingGoesOnWithoutIt) {
  for (const bool hasSoundOutput : {false, true}) {
    factory->hasSoundOutput = hasSoundOutput;
    RecordingOptions options = displayOptions();
    options.includeSystemAudio = true;
    start(options);  // no sound output: recorded without it rather than refused
    if (hasSoundOutput) factory->systemAudio->fail("Tolvane couldn't record the computer's sound.");
    deliverFrames(1000, 1000.5);
    engine->stop();
    EXPECT_EQ(engine->notices(),
              std::vector<std::string>{hasSoundOutput ? "Tolvane couldn't record the computer's sound. The rest of "
                                                        "this recording has no computer sound."
                                                      : "Tolvane couldn't find the computer's sound output. This "
                                                        "recording has no computer sound."});
  }
  std::lock_guard lock(delegate->mutex);
  EXPECT_TRUE(delegate->messages.empty());  // nothing that would end the recording
}

TEST_F(CaptureEngineTest, AnnotationsFromTheNextFrameOnLeaveNoTraceOnceClearedAndTheLatestCameraPictureIsComposited) {
  RecordingOptions options = displayOptions();
  options.cameraID = "cam";
  options.bubble = BubbleLayout{{0.5, 0.5}, 0.4};
  start(options);
  deliverFrames(1000, 1001);  // plain grey: no camera picture yet

  // A small drawing: the compositor draws it into the captured frame itself.
  VideoFrame drawing = VideoFrame::allocate(targetWidth, targetHeight);
  drawing.fill(0, 0, 0, 0);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) std::memcpy(drawing.pixel(x, y), "\0\0\xff\xff", 4);
  }
  engine->updateAnnotations(drawing, {});
  deliverFrames(1001, 1002);
  engine->updateAnnotations(VideoFrame(), {});
  hostNow = 1002.2;  // no new picture: the idle timer repeats the last one, without the drawing
  engine->fireIdleFrameTimer();
  waitForWriter(++framesSent);

  VideoFrame green = VideoFrame::allocate(32, 32);
  green.fill(0, 255, 0, 255);
  // Camera pictures reach the compositor on a queue of their own, as they do from a live
  // camera; the screen keeps its live pace until the frame the test looks at.
  factory->camera->send(green);
  deliverFrames(1002.4, 1003.4, true);
  engine->stop();

  const auto pixel = [&](double time, int x, int y) { return testing::moviePixel(movie, time, targetWidth, x, y); };
  EXPECT_NEAR(pixel(0.5, 4, 4)[1], 90, 12);  // plain grey
  EXPECT_NEAR(pixel(2.3, 4, 4)[0], 90, 12);  // the repeat
  const auto annotated = pixel(1.5, 4, 4), bubbleCentre = pixel(3.0, targetWidth / 2, targetHeight / 2);
  EXPECT_TRUE(annotated[0] > 180 && annotated[1] < 80) << annotated[0] << "," << annotated[1];
  EXPECT_TRUE(bubbleCentre[1] > 180 && bubbleCentre[0] < 80) << bubbleCentre[0] << "," << bubbleCentre[1];
  EXPECT_NEAR(pixel(3.0, 2, 2)[1], 90, 12);  // outside the bubble
}

TEST_F(CaptureEngineTest, StopImmediatelyClosesTheFileInTimeWhileTheScreenHangsAndLeavesItBehindSafely) {
  std::promise<void> release;
  factory->hangingStop = release.get_future().share();
  start();
  deliverFrames(1000, 1000.5);
  const auto began = std::chrono::steady_clock::now();
  engine->stopImmediately();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
  std::cout << "stopImmediately with a hung screen took " << took.count() << " s\n";
  EXPECT_LT(took.count(), 10.0);  // only a guard against hanging: the bound itself is 3 s
  EXPECT_EQ(testing::probeMovie(movie).videoTimes.size(), 15u);

  // The stuck read returns after the engine is gone and delivers into nothing.
  engine.reset();
  release.set_value();
  EXPECT_EQ(factory->hungScreenGone->get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
}

}  // namespace
}  // namespace tolvane
