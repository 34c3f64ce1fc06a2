#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "app/capture/sources/audio_source.h"

struct pa_simple;

namespace tolvane {

// Records one PulseAudio source (a microphone, or the monitor of a sink for the
// computer's own sound) as float32 stereo at 48 kHz on a thread of its own, in 10 ms
// buffers. Presentation times count frames from the first buffer's capture time, so
// consecutive buffers join without gaps or overlaps on the host clock.
class PulseAudioSource : public AudioSource {
 public:
  // `failureMessage` is the sentence reported when the source cannot be opened or
  // stops delivering.
  PulseAudioSource(std::string sourceName, std::string failureMessage);
  ~PulseAudioSource() override;

  void start(BufferHandler onBuffer, FailureHandler onFailure) override;
  void stop() override;

 private:
  void run();

  std::string sourceName_;
  std::string failureMessage_;
  pa_simple* stream_ = nullptr;
  BufferHandler onBuffer_;
  FailureHandler onFailure_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace tolvane
