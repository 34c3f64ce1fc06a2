#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/source_factory.h"
#include "app/capture/sources/synthetic_bars_camera.h"
#include "app/capture/sources/synthetic_screen_source.h"
#include "app/capture/sources/synthetic_sources.h"
#include "app/capture/sources/synthetic_tone_source.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;

// Collects what a source delivers until `count` items arrived (or a generous time-out).
template <typename Item>
class Collector {
 public:
  void add(const Item& item) {
    std::lock_guard lock(mutex_);
    items_.push_back(item);
    changed_.notify_all();
  }
  std::vector<Item> waitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 20s, [&] { return items_.size() >= count; });
    return items_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Item> items_;
};

TEST(SyntheticToneTest, IsA440HzQuarterScaleSineInContiguousBuffers) {
  CapturedAudio audio = SyntheticToneSource::render(0, 48000);
  ASSERT_EQ(audio.frameCount(), 48000);
  int crossings = 0;
  float peak = 0;
  for (std::int64_t i = 1; i < audio.frameCount(); ++i) {
    float previous = audio.samples[static_cast<std::size_t>(i - 1) * 2];
    float current = audio.samples[static_cast<std::size_t>(i) * 2];
    EXPECT_EQ(current, audio.samples[static_cast<std::size_t>(i) * 2 + 1]);
    if ((previous < 0) != (current < 0)) ++crossings;
    peak = std::max(peak, std::fabs(current));
  }
  EXPECT_NEAR(crossings, 880, 2);
  EXPECT_NEAR(peak, 0.25f, 0.001f);

  // Delivered live, buffers follow each other on the host clock and continue the wave.
  SyntheticToneSource source;
  Collector<CapturedAudio> collected;
  source.start([&](const CapturedAudio& buffer) { collected.add(buffer); }, [](const std::string&) {});
  auto buffers = collected.waitFor(10);
  source.stop();
  ASSERT_GE(buffers.size(), 10u);
  std::int64_t frames = 0;
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    EXPECT_EQ(buffers[i].channels, 2);
    if (i > 0) {
      EXPECT_NEAR(buffers[i].presentationTime - buffers[i - 1].presentationTime, buffers[i - 1].duration(), 1e-9);
    }
    CapturedAudio expected = SyntheticToneSource::render(frames, buffers[i].frameCount());
    EXPECT_EQ(buffers[i].samples, expected.samples);
    frames += buffers[i].frameCount();
  }
}

TEST(SyntheticBarsCameraTest, ShowsEightBarsLeftToRight) {
  SyntheticBarsCamera camera;
  Collector<VideoFrame> collected;
  camera.start([&](const VideoFrame& frame) { collected.add(frame); }, [](const std::string&) {});
  auto frames = collected.waitFor(2);
  camera.stop();
  ASSERT_GE(frames.size(), 2u);
  const VideoFrame& frame = frames.back();
  ASSERT_EQ(frame.width(), 640);
  ASSERT_EQ(frame.height(), 480);
  // White, yellow, cyan, green, magenta, red, blue, black as 0xAARRGGBB.
  const std::uint32_t bars[] = {0xFFFFFFFF, 0xFFFFFF00, 0xFF00FFFF, 0xFF00FF00,
                                0xFFFF00FF, 0xFFFF0000, 0xFF0000FF, 0xFF000000};
  for (int bar = 0; bar < 8; ++bar) {
    std::uint32_t pixel;
    std::memcpy(&pixel, frame.pixel(bar * 80 + 40, 240), 4);
    EXPECT_EQ(pixel, bars[bar]) << bar;
  }
}

TEST(SyntheticScreenTest, DeliversCompleteFramesWithAMovingSquare) {
  SyntheticScreenSource source(ScreenCaptureSettings{320, 180, 30, true});
  Collector<ScreenFrame> collected;
  source.start([&](const ScreenFrame& frame) { collected.add(frame); }, [](const std::string&) {});
  auto frames = collected.waitFor(3);
  source.stop();
  ASSERT_GE(frames.size(), 3u);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].status, FrameStatus::complete);
    ASSERT_EQ(frames[i].image.width(), 320);
    ASSERT_EQ(frames[i].image.height(), 180);
    if (i > 0) {
      EXPECT_GT(frames[i].hostTime, frames[i - 1].hostTime);
    }
    // The square of frame i sits where squareLeft says, white, vertically centred.
    int size = SyntheticScreenSource::squareSize(320, 180);
    int left = SyntheticScreenSource::squareLeft(static_cast<long>(i), 30, 320, 180);
    const std::uint8_t* inside = frames[i].image.pixel(left + size / 2, 90);
    EXPECT_EQ(inside[0] + inside[1] + inside[2], 3 * 255);
  }
  EXPECT_LT(SyntheticScreenSource::squareLeft(0, 30, 320, 180), SyntheticScreenSource::squareLeft(2, 30, 320, 180));
}

TEST(SourceFactoryTest, OpensSyntheticSourcesByIdAndSaysWhatIsMissing) {
  SystemSourceFactory factory(":definitely-not-a-display");
  EXPECT_NE(factory.openScreen(SyntheticSources::screenTarget(), ScreenCaptureSettings{64, 36, 30, true}), nullptr);
  EXPECT_NE(factory.openMicrophone(std::string(SyntheticSources::toneID)), nullptr);
  EXPECT_NE(factory.openCamera(std::string(SyntheticSources::barsID)), nullptr);
  EXPECT_EQ(SyntheticSources::screenTarget().id(), "display-4294967040");
  EXPECT_TRUE(SyntheticSources::isSyntheticScreen(SyntheticSources::screenTarget()));
  EXPECT_FALSE(SyntheticSources::isSyntheticScreen(CaptureTarget::display(1, "Main display", 10, 10)));
  // Real devices that are not there say what is missing.
  try {
    factory.openCamera("usb-No_Such_Camera-video-index0");
    FAIL();
  } catch (const CaptureSourceError& error) {
    EXPECT_STREQ(error.what(), "Tolvane couldn't find that camera.");
    EXPECT_EQ(error.kind(), CaptureSourceError::Kind::deviceUnavailable);
  }
  try {
    factory.openScreen(CaptureTarget::display(1, "Main display", 10, 10), ScreenCaptureSettings{10, 10, 30, true});
    FAIL();
  } catch (const CaptureSourceError& error) {
    EXPECT_STREQ(error.what(),
                 "Tolvane couldn't open the X display \":definitely-not-a-display\"; is an X session running?");
    EXPECT_EQ(error.kind(), CaptureSourceError::Kind::serverUnavailable);
  }
}

}  // namespace
}  // namespace tolvane
