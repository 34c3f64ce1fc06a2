#pragma once

#include <string>

#include "app/capture/sources/source_catalog.h"

namespace tolvane {

// The machine's own sources: displays and windows from the X server, microphones from
// PulseAudio, cameras from V4L2.
class SystemSourceCatalog : public SourceCatalog {
 public:
  // `xDisplayName` empty means $DISPLAY.
  explicit SystemSourceCatalog(std::string xDisplayName = {}) : xDisplayName_(std::move(xDisplayName)) {}

  ShareableContent shareableContent() override;
  std::vector<AudioDeviceOption> microphones() override;
  std::vector<CameraOption> cameras() override;

 private:
  std::string xDisplayName_;
};

}  // namespace tolvane
