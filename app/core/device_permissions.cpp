#include "app/core/device_permissions.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "app/capture/sources/synthetic_sources.h"
#include "app/capture/sources/v4l2_devices.h"

namespace tolvane {

bool SystemDevicePermissions::screenRecordingGranted() {
  try {
    return !catalog_->shareableContent().displays.empty();
  } catch (const std::exception&) {
    return false;  // no X server: a Wayland session without X capture, or no desktop
  }
}

PermissionStatus SystemDevicePermissions::microphoneStatus(const std::optional<std::string>& microphoneID) {
  if (microphoneID == SyntheticSources::toneID) return PermissionStatus::authorised;
  const auto microphones = catalog_->microphones();
  const bool offered = microphoneID ? std::any_of(microphones.begin(), microphones.end(),
                                                  [&](const AudioDeviceOption& m) { return m.id == *microphoneID; })
                                    : !microphones.empty();
  return offered ? PermissionStatus::authorised : PermissionStatus::denied;
}

PermissionStatus SystemDevicePermissions::cameraStatus(const std::optional<std::string>& cameraID) {
  if (cameraID == SyntheticSources::barsID) return PermissionStatus::authorised;
  std::optional<V4L2Devices::Device> device;
  if (cameraID) {
    device = V4L2Devices::find(*cameraID);
  } else if (auto all = V4L2Devices::list(); !all.empty()) {
    device = all.front();
  }
  if (!device) return cameraID ? PermissionStatus::denied : PermissionStatus::notDetermined;
  // Opening is what capture itself does first; a busy camera still opens.
  const int descriptor = ::open(device->path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return PermissionStatus::denied;
  ::close(descriptor);
  return PermissionStatus::authorised;
}

}  // namespace tolvane
