#pragma once

#include "app/capture/sources/shareable_content.h"

namespace tolvane {

class X11Connection;

// Reads the displays (XRandR monitors) and the top-level windows (EWMH
// _NET_CLIENT_LIST) of an X server.
class X11ContentReader {
 public:
  explicit X11ContentReader(X11Connection& connection) : connection_(connection) {}

  ShareableContent read() const;
  std::vector<DisplayInfo> displays() const;
  std::vector<WindowInfo> windows() const;
  // One window; none when it no longer exists.
  std::optional<WindowInfo> window(std::uint32_t windowID) const;

 private:
  std::string monitorName(unsigned long output) const;
  bool isOnCurrentDesktop(unsigned long window) const;

  X11Connection& connection_;
};

}  // namespace tolvane
