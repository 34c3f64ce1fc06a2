#include "app/capture/sources/synthetic_tone_source.h"

#include <cmath>
#include <numbers>

#include "kit/base/clock.h"

namespace tolvane {

namespace {

constexpr std::int64_t framesPerBuffer = 480;  // 10 ms

}  // namespace

SyntheticToneSource::~SyntheticToneSource() { stop(); }

CapturedAudio SyntheticToneSource::render(std::int64_t firstFrame, std::int64_t frameCount) {
  CapturedAudio audio;
  audio.channels = 2;
  audio.samples.resize(static_cast<std::size_t>(frameCount) * 2);
  for (std::int64_t i = 0; i < frameCount; ++i) {
    // The phase is taken modulo one period so it stays exact over hours of frames.
    double phase = std::fmod(static_cast<double>(firstFrame + i) * frequency, CapturedAudio::sampleRate);
    auto value = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * phase / CapturedAudio::sampleRate));
    audio.samples[static_cast<std::size_t>(i) * 2] = value;
    audio.samples[static_cast<std::size_t>(i) * 2 + 1] = value;
  }
  return audio;
}

void SyntheticToneSource::start(BufferHandler onBuffer, FailureHandler) {
  onBuffer_ = std::move(onBuffer);
  startTime_ = monotonicSeconds();
  loop_.start(CapturedAudio::sampleRate / framesPerBuffer, [this] { return tick(); });
}

void SyntheticToneSource::stop() { loop_.stop(); }

bool SyntheticToneSource::tick() {
  // Deliver whatever real time has produced, so a late tick is caught up at once.
  auto due = static_cast<std::int64_t>((monotonicSeconds() - startTime_) * CapturedAudio::sampleRate);
  while (framesDelivered_ + framesPerBuffer <= due) {
    CapturedAudio audio = render(framesDelivered_, framesPerBuffer);
    audio.presentationTime = startTime_ + static_cast<double>(framesDelivered_) / CapturedAudio::sampleRate;
    framesDelivered_ += framesPerBuffer;
    onBuffer_(audio);
  }
  return true;
}

}  // namespace tolvane
