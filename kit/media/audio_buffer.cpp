#include "kit/media/audio_buffer.h"

#include <cstring>
#include <utility>

namespace tolvane {

std::size_t bytesPerSample(SampleType type) {
  switch (type) {
    case SampleType::float32:
    case SampleType::int32:
      return 4;
    case SampleType::int16:
      return 2;
  }
  return 0;
}

AudioBuffer::AudioBuffer(AudioFormat format, std::int64_t frameCount, MediaTime presentationTime,
                         std::vector<std::vector<std::byte>> planes)
    : format_(format), frameCount_(frameCount), presentationTime_(presentationTime), planes_(std::move(planes)) {}

AudioBuffer AudioBuffer::interleavedFloats(const std::vector<float>& samples, int channels, double sampleRate,
                                           MediaTime presentationTime) {
  AudioFormat format{sampleRate, channels, SampleType::float32, true};
  const std::int64_t frames = channels > 0 ? static_cast<std::int64_t>(samples.size()) / channels : 0;
  std::vector<std::byte> bytes(samples.size() * sizeof(float));
  if (!bytes.empty()) std::memcpy(bytes.data(), samples.data(), bytes.size());
  std::vector<std::vector<std::byte>> planes;
  planes.push_back(std::move(bytes));
  return AudioBuffer(format, frames, presentationTime, std::move(planes));
}

std::size_t AudioBuffer::samplesInPlane(std::size_t index) const {
  if (index >= planes_.size()) return 0;
  return planes_[index].size() / bytesPerSample(format_.sampleType);
}

std::size_t AudioBuffer::expectedPlaneBytes() const {
  if (frameCount_ <= 0 || format_.channels <= 0) return 0;
  const auto perFrame = format_.isInterleaved ? static_cast<std::size_t>(format_.channels) : std::size_t{1};
  return static_cast<std::size_t>(frameCount_) * perFrame * bytesPerSample(format_.sampleType);
}

}  // namespace tolvane
