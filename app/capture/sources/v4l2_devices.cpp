#include "app/capture/sources/v4l2_devices.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <system_error>

namespace tolvane {

namespace {

// The number after "video", so video10 sorts after video2.
std::optional<int> deviceNumber(const std::string& fileName) {
  if (fileName.rfind("video", 0) != 0 || fileName.size() == 5) return std::nullopt;
  std::string digits = fileName.substr(5);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
  return std::stoi(digits);
}

// The card name when the node captures video frames (not metadata, not output).
std::optional<std::string> captureCardName(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  v4l2_capability capability{};
  int status = ::ioctl(fd, VIDIOC_QUERYCAP, &capability);
  ::close(fd);
  if (status < 0) return std::nullopt;
  std::uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? capability.device_caps
                                                                            : capability.capabilities;
  if ((caps & V4L2_CAP_VIDEO_CAPTURE) == 0 || (caps & V4L2_CAP_STREAMING) == 0) return std::nullopt;
  const char* card = reinterpret_cast<const char*>(capability.card);
  return std::string(card, strnlen(card, sizeof capability.card));
}

}  // namespace

std::vector<V4L2Devices::Device> V4L2Devices::list(const std::filesystem::path& deviceDirectory,
                                                   const std::filesystem::path& byIDDirectory) {
  std::error_code error;
  std::map<std::filesystem::path, std::string> stableNames;
  for (const auto& entry : std::filesystem::directory_iterator(byIDDirectory, error)) {
    auto target = std::filesystem::canonical(entry.path(), error);
    if (error) continue;
    // A device has one by-id link per interface; the first in name order stays stable.
    auto [it, inserted] = stableNames.emplace(target, entry.path().filename().string());
    if (!inserted && entry.path().filename().string() < it->second) it->second = entry.path().filename().string();
  }

  std::vector<std::pair<int, std::filesystem::path>> nodes;
  for (const auto& entry : std::filesystem::directory_iterator(deviceDirectory, error)) {
    if (auto number = deviceNumber(entry.path().filename().string())) nodes.emplace_back(*number, entry.path());
  }
  std::sort(nodes.begin(), nodes.end());

  std::vector<Device> devices;
  for (const auto& [number, path] : nodes) {
    auto name = captureCardName(path);
    if (!name) continue;
    auto canonical = std::filesystem::canonical(path, error);
    auto stable = error ? stableNames.end() : stableNames.find(canonical);
    devices.push_back(Device{stable != stableNames.end() ? stable->second : path.string(), path, *name});
  }
  return devices;
}

std::vector<CameraOption> V4L2Devices::cameras() {
  std::vector<CameraOption> options;
  for (const Device& device : list()) options.push_back(CameraOption{device.id, device.name});
  return options;
}

std::optional<V4L2Devices::Device> V4L2Devices::find(const std::string& id) {
  for (Device& device : list()) {
    if (device.id == id || device.path.string() == id) return device;
  }
  return std::nullopt;
}

}  // namespace tolvane
