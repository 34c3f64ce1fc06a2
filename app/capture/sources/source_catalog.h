#pragma once

#include <vector>

#include "app/capture/sources/capture_target.h"
#include "app/capture/sources/shareable_content.h"

namespace tolvane {

// What the desktop offers for recording, asked afresh on every call.
class SourceCatalog {
 public:
  virtual ~SourceCatalog() = default;

  // Displays and on-screen top-level windows. Throws CaptureSourceError when the X
  // server cannot be reached or the session cannot be recorded (Wayland).
  virtual ShareableContent shareableContent() = 0;
  // Input devices and cameras in discovery order; empty when none can be reached.
  virtual std::vector<AudioDeviceOption> microphones() = 0;
  virtual std::vector<CameraOption> cameras() = 0;
};

}  // namespace tolvane
