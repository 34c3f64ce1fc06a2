#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/capture/bubble_layout.h"
#include "app/capture/sources/capture_target.h"
#include "kit/media/video_frame.h"

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
  // Small copies of the camera's pictures while recording (the bubble preview shows
  // them, since the camera is the engine's then): at most cameraPreviewSide pixels on the
  // shorter side, about 15 a second, on a worker thread of the engine. Empty: none.
  std::function<void(const VideoFrame&)> cameraPreview;
  int cameraPreviewSide = 320;

  // The preview's receiver has no identity to compare; only whether there is one counts.
  bool operator==(const RecordingOptions& other) const {
    return target == other.target && includeSystemAudio == other.includeSystemAudio &&
           microphoneID == other.microphoneID && cameraID == other.cameraID && bubble == other.bubble &&
           frameRate == other.frameRate && maxLongEdge == other.maxLongEdge &&
           static_cast<bool>(cameraPreview) == static_cast<bool>(other.cameraPreview) &&
           cameraPreviewSide == other.cameraPreviewSide;
  }
};

}  // namespace tolvane
