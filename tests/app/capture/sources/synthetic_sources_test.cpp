// The test sources, opened by their ids through the factory as `record --target` does.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/capture/sources/source_factory.h"
#include "app/capture/sources/synthetic_screen_source.h"
#include "app/capture/sources/synthetic_sources.h"
#include "app/capture/sources/synthetic_tone_source.h"
#include "tests/app/capture/sources/source_test_support.h"

namespace tolvane {
namespace {

// What a source delivers once `count` items came, stopping it then.
template <typename Item, typename Source>
std::vector<Item> firstItems(Source& source, std::size_t count) {
  testing::SourceCollector<Item> collected;
  source.start(collected.handler(), [](const std::string&) {});
  const auto items = collected.items(count);
  source.stop();
  EXPECT_GE(items.size(), count);
  return items;
}

TEST(SyntheticSourcesTest, A440HzQuarterScaleToneInLiveBuffersACameraPictureAndAMovingSquare) {
  const CapturedAudio second = SyntheticToneSource::render(0, 48000);
  int crossings = 0;
  for (std::size_t i = 2; i < second.samples.size(); i += 2) crossings += (second.samples[i - 2] < 0) != (second.samples[i] < 0);
  EXPECT_NEAR(crossings, 880, 2);
  EXPECT_NEAR(*std::max_element(second.samples.begin(), second.samples.end()), 0.25f, 0.001f);
  SystemSourceFactory factory;
  const auto buffers = firstItems<CapturedAudio>(*factory.openMicrophone(std::string(SyntheticSources::toneID)), 10);
  std::int64_t frames = 0;
  for (const auto& buffer : buffers) {  // back to back on the host clock, the wave going on
    EXPECT_NEAR(buffer.presentationTime, buffers[0].presentationTime + static_cast<double>(frames) / 48000, 1e-9);
    EXPECT_EQ(buffer.samples, SyntheticToneSource::render(frames, buffer.frameCount()).samples);
    frames += buffer.frameCount();
  }

  const VideoFrame bars = firstItems<VideoFrame>(*factory.openCamera(std::string(SyntheticSources::barsID)), 2).back();
  EXPECT_EQ(std::pair(bars.width(), bars.height()), std::pair(640, 480));
  auto screen = factory.openScreen(SyntheticSources::screenTarget(), ScreenCaptureSettings{320, 180, 30, true});
  const auto delivered = firstItems<ScreenFrame>(*screen, 3);
  for (std::size_t i = 0; i < delivered.size(); ++i) {
    ASSERT_EQ(std::pair(delivered[i].image.width(), delivered[i].image.height()), std::pair(320, 180));
    // The square of frame i sits where squareLeft says, white, vertically centred.
    const int left = SyntheticScreenSource::squareLeft(static_cast<long>(i), 30, 320, 180);
    const std::uint8_t* inside = delivered[i].image.pixel(left + SyntheticScreenSource::squareSize(320, 180) / 2, 90);
    EXPECT_EQ(inside[0] + inside[1] + inside[2], 3 * 255);
  }
}

}  // namespace
}  // namespace tolvane
