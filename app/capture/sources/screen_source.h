#pragma once

#include <functional>
#include <string>

#include "kit/media/video_frame.h"

namespace tolvane {

// What a screen source delivers each frame interval.
enum class FrameStatus {
  complete,  // `image` holds new content
  idle,      // nothing changed since the last delivery; `image` is empty
};

struct ScreenFrame {
  // BGRA at the source's output size; empty when idle. Opaque content: the fourth byte
  // of each pixel may be undefined (X leaves it so), and nothing downstream reads it.
  // The pixels become the receiver's: the source never writes to them again.
  VideoFrame image;
  double hostTime = 0;    // CLOCK_MONOTONIC seconds (monotonicSeconds()) when the content was read
  FrameStatus status = FrameStatus::complete;
};

// How a screen source delivers: the output size (the content is scaled to fit it, never
// cropped), the rate and whether the pointer is drawn in.
struct ScreenCaptureSettings {
  int width = 0;
  int height = 0;
  int frameRate = 30;
  bool showsCursor = true;
};

// A display or a window that delivers frames at the configured rate on a thread of its
// own. Sources are started once and stopped once.
class ScreenSource {
 public:
  // Called on the source's thread, one frame at a time, in order of hostTime.
  using FrameHandler = std::function<void(const ScreenFrame&)>;
  // Called on the source's thread when the source stops on its own (the window closed,
  // the X server went away); no frames follow. The text is the user-facing sentence.
  using FailureHandler = std::function<void(const std::string& message)>;

  virtual ~ScreenSource() = default;

  // Begins delivery; returns once capture runs. Throws CaptureSourceError.
  virtual void start(FrameHandler onFrame, FailureHandler onFailure) = 0;
  // Stops delivery; when it returns no handler runs any more. Idempotent. Not to be
  // called from inside a handler (it waits for the handler's thread).
  virtual void stop() = 0;
  virtual const ScreenCaptureSettings& settings() const = 0;
};

}  // namespace tolvane
