// Two simulated hours of sound from a card whose clock runs off the host's, through the
// capture engine's mixer and its drain point, on a clock the test sets. Apart from the
// concurrency label: hours of samples are too many for ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "app/capture/capture_engine.h"
#include "tests/app/capture/fake_sources.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

// The card clicks once a second of real time; returns the worst distance, in seconds,
// between where a click lands in the track and where it belongs (both relative to the
// first click), or infinity when a click went missing.
double worstDrift(double ppm) {
  constexpr double rate = CapturedAudio::sampleRate;
  constexpr std::int64_t chunkFrames = 960;
  constexpr int seconds = 2 * 3600;
  const double cardRate = rate * (1 + ppm * 1e-6);  // frames per host second
  const auto clickFrame = [&](int n) { return static_cast<std::int64_t>(std::ceil(n * cardRate)); };

  testing::TempDir directory;
  auto factory = std::make_shared<testing::FakeFactory>();
  const double start = 1000;
  std::atomic<double> hostNow = start;
  RecordingOptions options;
  options.target = CaptureTarget::display(1, "Main display", 64, 36);
  options.includeSystemAudio = true;
  CaptureEngine engine(options, directory / "recording.mp4", factory, [&] { return hostNow.load(); });
  engine.setTimersEnabled(false);
  std::vector<std::int64_t> clickFrames;
  float last = 0;
  engine.setAudioOutput([&](const AudioMixBuffer::Drained& drained) {
    for (std::int64_t f = 0; f < std::ssize(drained.samples) / 2; ++f) {
      if (drained.samples[f * 2] > 0.25f && last <= 0.25f) clickFrames.push_back(drained.startFrame + f);
      last = drained.samples[f * 2];
    }
  });
  engine.start();

  std::uint32_t jitterSeed = 1;
  double nextDrain = start + CaptureEngine::audioDrainInterval;
  int nextClick = 0;
  CapturedAudio chunk;
  for (std::int64_t first = 0; first < clickFrame(seconds); first += chunkFrames) {
    chunk.samples.assign(chunkFrames * 2, 0.0f);
    for (std::int64_t k = clickFrame(nextClick); k < first + chunkFrames; k = clickFrame(++nextClick)) {
      for (std::int64_t i = k - first; i < std::min(k - first + 4, chunkFrames); ++i) chunk.samples[i * 2] = 0.5f;
    }
    // Stamped by counting frames; arriving once complete, up to 15 ms late.
    chunk.presentationTime = start + static_cast<double>(first) / rate;
    jitterSeed = jitterSeed * 1664525 + 1013904223;
    chunk.arrivalTime = start + static_cast<double>(first + chunkFrames) / cardRate + (jitterSeed >> 8) % 15 * 1e-3;
    hostNow = chunk.arrivalTime;
    factory->systemAudio->send(chunk);
    if (first == 0 || hostNow >= nextDrain) {
      engine.fireAudioDrainTimer();  // after the first chunk too: it starts the clock at its arrival
      nextDrain += CaptureEngine::audioDrainInterval;
    }
  }
  engine.stop();
  EXPECT_EQ(engine.statistics().audioFramesLate, 0);  // no stretch went silent
  if (clickFrames.size() != static_cast<std::size_t>(seconds)) return INFINITY;
  double worst = 0;
  for (int n = 0; n < seconds; ++n) {
    worst = std::max(worst, std::abs(static_cast<double>(clickFrames[n] - clickFrames[0]) / rate -
                                     static_cast<double>(clickFrame(n) - clickFrame(0)) / cardRate));
  }
  return worst;
}

TEST(AudioDriftTest, ACardRunningFastOrSlowStaysWithin20msForTwoHours) {
  for (const double ppm : {200.0, -200.0}) {
    const double worst = worstDrift(ppm);
    std::printf("%+.0f ppm: worst drift %.2f ms\n", ppm, worst * 1000);
    EXPECT_LT(worst, 0.020) << ppm << " ppm";
  }
}

}  // namespace
}  // namespace tolvane
