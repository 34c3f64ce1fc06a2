// The test microphone, opened by its id through the factory as `record --microphone` does.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/capture/sources/source_factory.h"
#include "app/capture/sources/synthetic_sources.h"
#include "app/capture/sources/synthetic_tone_source.h"
#include "tests/app/capture/sources/source_test_support.h"

namespace tolvane {
namespace {

TEST(SyntheticSourcesTest, TheToneIsA440HzQuarterScaleSineContinuedAcrossLiveBuffers) {
  const CapturedAudio second = SyntheticToneSource::render(0, 48000);
  int crossings = 0;
  for (std::size_t i = 2; i < second.samples.size(); i += 2) crossings += (second.samples[i - 2] < 0) != (second.samples[i] < 0);
  EXPECT_NEAR(crossings, 880, 2);
  EXPECT_NEAR(*std::max_element(second.samples.begin(), second.samples.end()), 0.25f, 0.001f);
  auto source = SystemSourceFactory().openMicrophone(std::string(SyntheticSources::toneID));
  testing::SourceCollector<CapturedAudio> collected;
  source->start(collected.handler(), [](const std::string&) {});
  const auto buffers = collected.items(10);
  source->stop();
  ASSERT_GE(buffers.size(), 10u);
  std::int64_t frames = 0;
  for (const auto& buffer : buffers) {  // back to back on the host clock, the wave going on
    EXPECT_NEAR(buffer.presentationTime, buffers[0].presentationTime + static_cast<double>(frames) / 48000, 1e-9);
    EXPECT_EQ(buffer.samples, SyntheticToneSource::render(frames, buffer.frameCount()).samples);
    frames += buffer.frameCount();
  }
}

}  // namespace
}  // namespace tolvane
