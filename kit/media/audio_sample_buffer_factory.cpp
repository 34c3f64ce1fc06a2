#include "kit/media/audio_sample_buffer_factory.h"

#include <cmath>
#include <limits>

namespace tolvane {

std::optional<AudioBuffer> AudioSampleBufferFactory::make(const std::vector<float>& interleaved, int channels,
                                                          double sampleRate, std::int64_t startFrame) {
  if (channels <= 0) return std::nullopt;
  const auto frames = static_cast<std::int64_t>(interleaved.size()) / channels;
  if (frames <= 0) return std::nullopt;
  if (!std::isfinite(sampleRate) || sampleRate < 1 || sampleRate > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  const auto timescale = static_cast<std::int32_t>(std::trunc(sampleRate));
  // Only whole frames go out.
  std::vector<float> whole(interleaved.begin(), interleaved.begin() + static_cast<std::ptrdiff_t>(frames * channels));
  return AudioBuffer::interleavedFloats(whole, channels, sampleRate, MediaTime{startFrame, timescale});
}

}  // namespace tolvane
