#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kit/media/media_time.h"

namespace tolvane {

// How one sample is stored.
enum class SampleType {
  float32,  // 32-bit IEEE float, nominal range [-1, 1]
  int16,    // signed 16-bit integer
  int32,    // signed 32-bit integer (some sound servers deliver it; the mixer does not)
};

std::size_t bytesPerSample(SampleType type);

// The layout of the samples in an AudioBuffer.
struct AudioFormat {
  double sampleRate = 48000;  // frames per second
  int channels = 2;
  SampleType sampleType = SampleType::float32;
  // Interleaved: one plane holding frame after frame, channel after channel.
  // Planar: one plane per channel.
  bool isInterleaved = true;

  bool operator==(const AudioFormat&) const = default;
};

// A stretch of audio with its format and the presentation time of its first frame: what
// a sound source delivers and what the movie writer takes. A value type; planes are
// raw bytes in native byte order. A plane may be empty (no data for that channel).
class AudioBuffer {
 public:
  AudioBuffer() = default;
  AudioBuffer(AudioFormat format, std::int64_t frameCount, MediaTime presentationTime,
              std::vector<std::vector<std::byte>> planes);

  // Interleaved float samples (frames × channels values) in one plane.
  static AudioBuffer interleavedFloats(const std::vector<float>& samples, int channels, double sampleRate,
                                       MediaTime presentationTime);

  const AudioFormat& format() const { return format_; }
  std::int64_t frameCount() const { return frameCount_; }
  MediaTime presentationTime() const { return presentationTime_; }

  std::size_t planeCount() const { return planes_.size(); }
  const std::vector<std::byte>& plane(std::size_t index) const { return planes_[index]; }
  // Samples plane `index` holds in full (its byte size ÷ the sample size).
  std::size_t samplesInPlane(std::size_t index) const;
  // Bytes needed by every plane for frameCount() frames.
  std::size_t expectedPlaneBytes() const;

 private:
  AudioFormat format_;
  std::int64_t frameCount_ = 0;
  MediaTime presentationTime_ = MediaTime::invalid();
  std::vector<std::vector<std::byte>> planes_;
};

}  // namespace tolvane
