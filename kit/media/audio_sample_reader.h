#pragma once

#include <optional>
#include <vector>

#include "kit/media/audio_buffer.h"

namespace tolvane {

// Turns an incoming audio buffer into interleaved floats for the mixer.
class AudioSampleReader {
 public:
  // 32-bit float or 16-bit integer samples, interleaved or planar, as `channels`
  // interleaved floats: wanted channel c reads source channel min(c, last), so mono
  // fills both stereo channels and extra source channels are ignored. Absent for any
  // other sample type, no channels, no frames or missing sample data.
  static std::optional<std::vector<float>> interleavedFloats(const AudioBuffer& buffer, int channels);
};

}  // namespace tolvane
