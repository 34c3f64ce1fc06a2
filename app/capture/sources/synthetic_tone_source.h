#pragma once

#include <cstdint>

#include "app/capture/sources/audio_source.h"
#include "app/capture/sources/paced_loop.h"

namespace tolvane {

// A microphone that hears a steady 440 Hz sine at a quarter of full scale on both
// channels, delivered in 10 ms buffers in real time.
class SyntheticToneSource : public AudioSource {
 public:
  static constexpr double frequency = 440.0;
  static constexpr float amplitude = 0.25f;

  SyntheticToneSource() = default;
  ~SyntheticToneSource() override;

  void start(BufferHandler onBuffer, FailureHandler onFailure) override;
  void stop() override;

  // The tone's samples for frames [firstFrame, firstFrame + frameCount), interleaved stereo.
  static CapturedAudio render(std::int64_t firstFrame, std::int64_t frameCount);

 private:
  bool tick();

  BufferHandler onBuffer_;
  double startTime_ = 0;
  std::int64_t framesDelivered_ = 0;
  PacedLoop loop_;  // last: stops before the state it uses goes away
};

}  // namespace tolvane
