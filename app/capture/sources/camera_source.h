#pragma once

#include <functional>
#include <string>

#include "kit/media/video_frame.h"

namespace tolvane {

// A camera delivering BGRA frames on a thread of its own. Only the newest frame matters:
// a source that falls behind skips to the latest picture instead of queueing old ones.
// Started once, stopped once.
class CameraSource {
 public:
  // Called on the source's thread with each new picture (the caller keeps the latest).
  using FrameHandler = std::function<void(const VideoFrame&)>;
  // Called on the source's thread when the camera stops on its own; nothing follows.
  using FailureHandler = std::function<void(const std::string& message)>;

  virtual ~CameraSource() = default;

  // Begins delivery; returns once the device streams. Throws CaptureSourceError.
  virtual void start(FrameHandler onFrame, FailureHandler onFailure) = 0;
  // Stops delivery; when it returns no handler runs any more. Idempotent. Not to be
  // called from inside a handler (it waits for the handler's thread).
  virtual void stop() = 0;
};

}  // namespace tolvane
