#pragma once

#include <memory>
#include <string>

#include "app/capture/sources/shareable_content.h"
#include "app/capture/sources/x11_picture_source.h"

namespace tolvane {

class X11PanelEraser;

// One monitor of an X server, read through MIT-SHM at the configured rate with the
// pointer drawn in from XFixes. XDamage tells whether anything changed, so a static
// screen is delivered as idle frames without being read at all. While Tolvane's own
// floating panels are on the monitor, the picture is read with them taken out (see
// X11PanelEraser): the recording adds the bubble and the drawings itself.
class X11ScreenSource : public X11PictureSource {
 public:
  // Throws CaptureSourceError: the X server cannot be opened, or targetGone "That
  // display isn't available any more." when no monitor has `displayID`.
  X11ScreenSource(const std::string& xDisplayName, std::uint32_t displayID, ScreenCaptureSettings settings);
  ~X11ScreenSource() override;

 private:
  bool tick() override;

  DisplayInfo monitor_;
  std::unique_ptr<X11PanelEraser> eraser_;
  bool canPaintOver_ = true;  // whether the server draws into the pictures read (shared pixmaps)
  int trailingFrames_ = 0;  // still to read after the last damage
};

}  // namespace tolvane
