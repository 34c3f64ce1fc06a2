#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane {

// A monitor as the X server describes it, in root-window pixels.
struct DisplayInfo {
  std::uint32_t displayID = 0;  // stable while the server runs
  std::string localizedName;    // the monitor's own product name, empty when unknown
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const DisplayInfo&) const = default;
};

// The application a top-level window belongs to.
struct OwningApplication {
  pid_t processID = 0;
  std::string applicationName;
  bool operator==(const OwningApplication&) const = default;
};

// A top-level window of the desktop, in stacking order as the window manager lists it.
struct WindowInfo {
  std::uint32_t windowID = 0;
  std::optional<std::string> title;
  std::optional<OwningApplication> owningApplication;
  int x = 0;  // frame in root-window pixels
  int y = 0;
  int width = 0;
  int height = 0;
  bool isOnScreen = false;  // mapped and visible on the current desktop
  bool operator==(const WindowInfo&) const = default;
};

struct ShareableContent {
  std::vector<DisplayInfo> displays;
  std::vector<WindowInfo> windows;
};

}  // namespace tolvane
