#include "kit/media/audio_mix_buffer.h"

#include <algorithm>
#include <cmath>

namespace tolvane {

AudioMixBuffer::AudioMixBuffer(double sampleRate, int channels, double latency, double capacitySeconds)
    : sampleRate_(sampleRate),
      channels_(std::max(channels, 1)),
      latency_(latency),
      capacityFrames_(std::max<std::int64_t>(static_cast<std::int64_t>(std::trunc(capacitySeconds * sampleRate)), 1)),
      storage_(static_cast<std::size_t>(capacityFrames_) * static_cast<std::size_t>(channels_), 0.0f) {}

std::int64_t AudioMixBuffer::frameIndex(double seconds) const {
  // std::llround rounds halves away from zero.
  return std::llround(seconds * sampleRate_);
}

std::size_t AudioMixBuffer::slot(std::int64_t frame) const {
  return static_cast<std::size_t>(((frame % capacityFrames_) + capacityFrames_) % capacityFrames_);
}

void AudioMixBuffer::mix(const std::vector<float>& samples, std::int64_t firstFrame) {
  mix(samples.data(), samples.size(), firstFrame);
}

void AudioMixBuffer::mix(const float* samples, std::size_t count, std::int64_t firstFrame) {
  if (count == 0) return;
  std::lock_guard guard(lock_);
  if (!started_) {
    // The timeline begins with the first audio that arrives from either source.
    started_ = true;
    baseFrame_ = firstFrame;
    highestFrameWritten_ = firstFrame;
  }
  const auto channels = static_cast<std::size_t>(channels_);
  const auto frames = static_cast<std::int64_t>(count / channels);
  std::size_t i = 0;
  std::int64_t frame = firstFrame;
  if (firstFrame < baseFrame_) {
    const std::int64_t skip = std::min(baseFrame_ - firstFrame, frames);
    lateFrames_ += skip;
    i = static_cast<std::size_t>(skip) * channels;
    frame = firstFrame + skip;
    if (i >= count) return;
  }
  const std::int64_t end = baseFrame_ + capacityFrames_;
  // Summed without clipping here; the drain clips.
  while (i + channels <= count && frame < end) {
    float* cell = storage_.data() + slot(frame) * channels;
    for (std::size_t c = 0; c < channels; ++c) cell[c] += samples[i++];
    ++frame;
  }
  highestFrameWritten_ = std::max(highestFrameWritten_, frame);
}

std::optional<AudioMixBuffer::Drained> AudioMixBuffer::drain(std::int64_t upToFrame) {
  std::lock_guard guard(lock_);
  if (!started_) return std::nullopt;
  const std::int64_t end = std::min(baseFrame_ + capacityFrames_, upToFrame);
  if (baseFrame_ >= end) return std::nullopt;
  const auto channels = static_cast<std::size_t>(channels_);
  const std::int64_t count = end - baseFrame_;
  Drained out{baseFrame_, std::vector<float>(static_cast<std::size_t>(count) * channels, 0.0f)};
  for (std::int64_t k = 0; k < count; ++k) {
    float* cell = storage_.data() + slot(baseFrame_ + k) * channels;
    float* target = out.samples.data() + static_cast<std::size_t>(k) * channels;
    for (std::size_t c = 0; c < channels; ++c) {
      target[c] = std::max(std::min(cell[c], 1.0f), -1.0f);
      cell[c] = 0.0f;
    }
  }
  baseFrame_ = end;
  return out;
}

std::optional<AudioMixBuffer::Drained> AudioMixBuffer::drain(double upToTime) {
  return drain(frameIndex(upToTime - latency_));
}

std::optional<AudioMixBuffer::Drained> AudioMixBuffer::drainAll() {
  std::int64_t highest = 0;
  {
    std::lock_guard guard(lock_);
    highest = highestFrameWritten_;
  }
  return drain(highest);
}

std::int64_t AudioMixBuffer::lateFrames() const {
  std::lock_guard guard(lock_);
  return lateFrames_;
}

}  // namespace tolvane
