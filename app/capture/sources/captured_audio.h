#pragma once

#include <cstdint>
#include <vector>

namespace tolvane {

// A stretch of sound as an audio source delivers it: interleaved float32 samples at
// 48 kHz, the host time (CLOCK_MONOTONIC seconds) at which its first frame was captured
// by the source's own count of frames, and the host time at which it reached us. The
// count keeps consecutive buffers gap-free; the arrivals let the engine follow a sound
// card whose clock runs off the host's.
struct CapturedAudio {
  static constexpr double sampleRate = 48000;

  std::vector<float> samples;  // frameCount() × channels values, channel after channel
  int channels = 2;
  double presentationTime = 0;  // seconds, host clock
  double arrivalTime = 0;       // seconds, host clock; 0: unknown, taken as when it is handled

  std::int64_t frameCount() const {
    return channels > 0 ? static_cast<std::int64_t>(samples.size()) / channels : 0;
  }
  double duration() const { return static_cast<double>(frameCount()) / sampleRate; }
};

}  // namespace tolvane
