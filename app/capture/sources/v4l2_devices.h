#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/capture/sources/capture_target.h"

namespace tolvane {

// The V4L2 video-capture devices of the machine (/dev/video*), in device-number order.
class V4L2Devices {
 public:
  struct Device {
    std::string id;                // the /dev/v4l/by-id name when there is one, else the path
    std::filesystem::path path;    // /dev/videoN
    std::string name;              // the driver's card name, e.g. "HD Pro Webcam C920"
  };

  // `deviceDirectory` and `byIDDirectory` are parameters so tests can point elsewhere.
  static std::vector<Device> list(const std::filesystem::path& deviceDirectory = "/dev",
                                  const std::filesystem::path& byIDDirectory = "/dev/v4l/by-id");
  static std::vector<CameraOption> cameras();
  // The device whose id (or path) is `id`; none when no such camera is attached.
  static std::optional<Device> find(const std::string& id);
};

}  // namespace tolvane
