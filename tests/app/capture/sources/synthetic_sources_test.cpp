#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/source_factory.h"
#include "app/capture/sources/synthetic_bars_camera.h"
#include "app/capture/sources/synthetic_screen_source.h"
#include "app/capture/sources/synthetic_sources.h"
#include "app/capture/sources/synthetic_tone_source.h"
#include "tests/app/capture/sources/source_test_support.h"

namespace tolvane {
namespace {

const auto ignoreFailures = [](const std::string&) {};

TEST(SyntheticToneTest, IsA440HzQuarterScaleSineDeliveredInContiguousBuffers) {
  CapturedAudio audio = SyntheticToneSource::render(0, 48000);
  ASSERT_EQ(audio.frameCount(), 48000);
  int crossings = 0;
  float peak = 0;
  for (std::size_t i = 2; i < audio.samples.size(); i += 2) {
    EXPECT_EQ(audio.samples[i], audio.samples[i + 1]);
    crossings += (audio.samples[i - 2] < 0) != (audio.samples[i] < 0);
    peak = std::max(peak, std::fabs(audio.samples[i]));
  }
  EXPECT_NEAR(crossings, 880, 2);
  EXPECT_NEAR(peak, 0.25f, 0.001f);

  // Delivered live, buffers follow each other on the host clock and continue the wave.
  SyntheticToneSource source;
  testing::SourceCollector<CapturedAudio> collected;
  source.start(collected.handler(), ignoreFailures);
  auto buffers = collected.waitForCount(10);
  source.stop();
  ASSERT_GE(buffers.size(), 10u);
  std::int64_t frames = 0;
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    EXPECT_EQ(buffers[i].channels, 2);
    if (i > 0) {
      EXPECT_NEAR(buffers[i].presentationTime - buffers[i - 1].presentationTime, buffers[i - 1].duration(), 1e-9);
    }
    EXPECT_EQ(buffers[i].samples, SyntheticToneSource::render(frames, buffers[i].frameCount()).samples);
    frames += buffers[i].frameCount();
  }
}

TEST(SyntheticPicturesTest, TheCameraShowsEightBarsAndTheScreenAMovingSquare) {
  SyntheticBarsCamera camera;
  testing::SourceCollector<VideoFrame> pictures;
  camera.start(pictures.handler(), ignoreFailures);
  const VideoFrame bars = pictures.waitForCount(2).back();
  camera.stop();
  ASSERT_EQ(std::pair(bars.width(), bars.height()), std::pair(640, 480));
  // White, yellow, cyan, green, magenta, red, blue, black as 0xAARRGGBB.
  const std::uint32_t colours[] = {0xFFFFFFFF, 0xFFFFFF00, 0xFF00FFFF, 0xFF00FF00,
                                   0xFFFF00FF, 0xFFFF0000, 0xFF0000FF, 0xFF000000};
  for (int bar = 0; bar < 8; ++bar) {
    std::uint32_t pixel;
    std::memcpy(&pixel, bars.pixel(bar * 80 + 40, 240), 4);
    EXPECT_EQ(pixel, colours[bar]) << bar;
  }

  SyntheticScreenSource screen(ScreenCaptureSettings{320, 180, 30, true});
  testing::SourceCollector<ScreenFrame> frames;
  screen.start(frames.handler(), ignoreFailures);
  const auto delivered = frames.waitForCount(3);
  screen.stop();
  ASSERT_GE(delivered.size(), 3u);
  for (std::size_t i = 0; i < delivered.size(); ++i) {
    EXPECT_EQ(delivered[i].status, FrameStatus::complete);
    ASSERT_EQ(std::pair(delivered[i].image.width(), delivered[i].image.height()), std::pair(320, 180));
    EXPECT_TRUE(i == 0 || delivered[i].hostTime > delivered[i - 1].hostTime);
    // The square of frame i sits where squareLeft says, white, vertically centred.
    const int left = SyntheticScreenSource::squareLeft(static_cast<long>(i), 30, 320, 180);
    const std::uint8_t* inside = delivered[i].image.pixel(left + SyntheticScreenSource::squareSize(320, 180) / 2, 90);
    EXPECT_EQ(inside[0] + inside[1] + inside[2], 3 * 255);
  }
  EXPECT_LT(SyntheticScreenSource::squareLeft(0, 30, 320, 180), SyntheticScreenSource::squareLeft(2, 30, 320, 180));  // it moves
}

TEST(SourceFactoryTest, OpensSyntheticSourcesByIdAndSaysWhatIsMissing) {
  SystemSourceFactory factory(":definitely-not-a-display");
  EXPECT_NE(factory.openScreen(SyntheticSources::screenTarget(), ScreenCaptureSettings{64, 36, 30, true}), nullptr);
  EXPECT_NE(factory.openMicrophone(std::string(SyntheticSources::toneID)), nullptr);
  EXPECT_NE(factory.openCamera(std::string(SyntheticSources::barsID)), nullptr);
  // Real devices that are not there say what is missing.
  using Kind = CaptureSourceError::Kind;
  EXPECT_EQ(testing::sourceError([&] { factory.openCamera("usb-No_Such_Camera-video-index0"); }),
            std::pair(Kind::deviceUnavailable, std::string("Tolvane couldn't find that camera.")));
  EXPECT_EQ(testing::sourceError([&] { factory.openScreen(CaptureTarget::display(1, "Main display", 10, 10), {10, 10, 30, true}); }),
            std::pair(Kind::serverUnavailable,
                      std::string("Tolvane couldn't open the X display \":definitely-not-a-display\"; is an X session running?")));
}

}  // namespace
}  // namespace tolvane
