#pragma once

#include <functional>
#include <string>

#include "app/capture/sources/captured_audio.h"

namespace tolvane {

// A microphone or the computer's own sound, delivering float32 stereo at 48 kHz on a
// thread of its own. Started once, stopped once.
class AudioSource {
 public:
  // Called on the source's thread, buffers in order; consecutive buffers follow each
  // other without gaps unless the sound server dropped data.
  using BufferHandler = std::function<void(const CapturedAudio&)>;
  // Called on the source's thread when the source stops on its own; nothing follows.
  using FailureHandler = std::function<void(const std::string& message)>;

  virtual ~AudioSource() = default;

  // Begins delivery; returns once the stream runs. Throws CaptureSourceError.
  virtual void start(BufferHandler onBuffer, FailureHandler onFailure) = 0;
  // Stops delivery; when it returns no handler runs any more. Idempotent. Not to be
  // called from inside a handler (it waits for the handler's thread).
  virtual void stop() = 0;
};

}  // namespace tolvane
