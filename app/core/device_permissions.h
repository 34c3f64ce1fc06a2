#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/capture/sources/source_catalog.h"
#include "app/core/permission_status.h"

namespace tolvane {

// Reads whether Tolvane may use the screen, a microphone and a camera. Linux has no
// prompt for any of them, so each state is what trying would give: the calls talk to the
// X server, the sound server or the device, so they block and run off the GUI thread.
class DevicePermissions {
 public:
  virtual ~DevicePermissions() = default;

  // Granted when the X server is reachable and lists a display to record.
  virtual bool screenRecordingGranted() = 0;
  // Authorised when the sound server answers and offers `microphoneID` (any microphone
  // when none is given); denied otherwise.
  virtual PermissionStatus microphoneStatus(const std::optional<std::string>& microphoneID) = 0;
  // Authorised when the camera opens for capture; denied when it refuses (EACCES: the
  // user is not in the video group, or a sandbox forbids it) or is gone.
  virtual PermissionStatus cameraStatus(const std::optional<std::string>& cameraID) = 0;
};

class SystemDevicePermissions final : public DevicePermissions {
 public:
  explicit SystemDevicePermissions(std::shared_ptr<SourceCatalog> catalog) : catalog_(std::move(catalog)) {}

  bool screenRecordingGranted() override;
  PermissionStatus microphoneStatus(const std::optional<std::string>& microphoneID) override;
  PermissionStatus cameraStatus(const std::optional<std::string>& cameraID) override;

 private:
  std::shared_ptr<SourceCatalog> catalog_;
};

}  // namespace tolvane
