#pragma once

#include <optional>
#include <string>

#include "app/capture/bubble_layout.h"
#include "app/capture/sources/capture_target.h"

namespace tolvane {

// What one recording captures and how. The session controller fills `frameRate` with
// 30 and `maxLongEdge` with 2560.
struct RecordingOptions {
  CaptureTarget target = CaptureTarget::display(0, "", 0, 0);
  bool includeSystemAudio = false;        // the computer's own sound
  std::optional<std::string> microphoneID;  // none: no microphone
  std::optional<std::string> cameraID;      // none: no camera bubble
  BubbleLayout bubble;
  int frameRate = 30;      // frames per second asked of the screen and given to the writer
  int maxLongEdge = 2560;  // upper bound of the video's longer side, in pixels

  bool operator==(const RecordingOptions&) const = default;
};

}  // namespace tolvane
