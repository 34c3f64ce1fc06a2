#include "kit/media/audio_sample_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tolvane {
namespace {

float sampleAt(const std::byte* data, std::size_t index, SampleType type) {
  if (type == SampleType::float32) {
    float value = 0;
    std::memcpy(&value, data + index * sizeof(float), sizeof value);
    return value;
  }
  std::int16_t value = 0;
  std::memcpy(&value, data + index * sizeof(std::int16_t), sizeof value);
  return static_cast<float>(value) * (1.0f / 32768.0f);
}

}  // namespace

std::optional<std::vector<float>> AudioSampleReader::interleavedFloats(const AudioBuffer& buffer, int channels) {
  const AudioFormat& format = buffer.format();
  if (format.sampleType != SampleType::float32 && format.sampleType != SampleType::int16) return std::nullopt;
  if (format.channels <= 0 || channels <= 0 || buffer.planeCount() < 1) return std::nullopt;
  const std::int64_t frames = buffer.frameCount();
  if (frames <= 0) return std::nullopt;

  const auto wanted = static_cast<std::size_t>(channels);
  const auto frameCount = static_cast<std::size_t>(frames);
  std::vector<float> out(frameCount * wanted, 0.0f);
  if (format.isInterleaved) {
    const auto sourceChannels = static_cast<std::size_t>(format.channels);
    // Missing or short data is unreadable as a whole: nothing is read past its end.
    if (buffer.plane(0).empty() || buffer.samplesInPlane(0) < frameCount * sourceChannels) return std::nullopt;
    const std::byte* data = buffer.plane(0).data();
    for (std::size_t k = 0; k < frameCount; ++k) {
      for (std::size_t c = 0; c < wanted; ++c) {
        out[k * wanted + c] = sampleAt(data, k * sourceChannels + std::min(c, sourceChannels - 1), format.sampleType);
      }
    }
    return out;
  }
  const std::size_t planes = buffer.planeCount();
  for (std::size_t c = 0; c < wanted; ++c) {
    const std::size_t b = std::min(c, planes - 1);
    // A plane without (enough) data leaves its channel silent.
    if (buffer.plane(b).empty() || buffer.samplesInPlane(b) < frameCount) continue;
    const std::byte* data = buffer.plane(b).data();
    for (std::size_t k = 0; k < frameCount; ++k) out[k * wanted + c] = sampleAt(data, k, format.sampleType);
  }
  return out;
}

}  // namespace tolvane
