#pragma once

#include <cstdint>
#include <vector>

namespace tolvane {

// A stretch of sound as an audio source delivers it: interleaved float32 samples at
// 48 kHz and the host time (CLOCK_MONOTONIC seconds) at which its first frame was
// captured, so that every source can be placed on one recording clock.
struct CapturedAudio {
  static constexpr double sampleRate = 48000;

  std::vector<float> samples;  // frameCount() × channels values, channel after channel
  int channels = 2;
  double presentationTime = 0;  // seconds, host clock

  std::int64_t frameCount() const {
    return channels > 0 ? static_cast<std::int64_t>(samples.size()) / channels : 0;
  }
  double duration() const { return static_cast<double>(frameCount()) / sampleRate; }
};

}  // namespace tolvane
