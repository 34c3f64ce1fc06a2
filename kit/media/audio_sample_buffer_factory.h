#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "kit/media/audio_buffer.h"

namespace tolvane {

// Wraps drained mixer output into an audio buffer for the movie writer.
class AudioSampleBufferFactory {
 public:
  // Interleaved 32-bit floats stamped `startFrame` at a timescale of trunc(sampleRate);
  // absent when there is not one whole frame or the rate or channel count is unusable.
  static std::optional<AudioBuffer> make(const std::vector<float>& interleaved, int channels, double sampleRate,
                                         std::int64_t startFrame);
};

}  // namespace tolvane
