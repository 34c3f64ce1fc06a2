#pragma once

#include <X11/Xlib.h>

#include <string>

#include "app/capture/sources/x11_picture_source.h"

namespace tolvane {

// A single window of an X server. The window is redirected with XComposite, so the server
// keeps its full contents in a pixmap of its own even where other windows cover it, and
// the pixmap is read at the configured rate. XDamage on the window drives the idle status;
// the window closing ends the source with "That window has closed.".
class X11WindowSource : public X11PictureSource {
 public:
  // Throws CaptureSourceError: the X server cannot be opened, targetGone "That window
  // has closed." when the window no longer exists, or streamFailed without XComposite.
  X11WindowSource(const std::string& xDisplayName, std::uint32_t windowID, ScreenCaptureSettings settings);
  ~X11WindowSource() override;

 private:
  bool tick() override;
  // Reads the window's events; false when the window was destroyed.
  bool takeWindowEvents(bool& damaged);
  bool nameWindowPixmap();
  void releasePixmap();

  ::Window window_;
  ::Pixmap pixmap_ = 0;
  int pixmapWidth_ = 0;
  int pixmapHeight_ = 0;
  ::Visual* visual_ = nullptr;
  int depth_ = 0;
  bool isMapped_ = false;
  bool needsPixmap_ = true;
};

}  // namespace tolvane
