#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <memory>
#include <string>

#include "app/capture/sources/paced_loop.h"
#include "app/capture/sources/screen_source.h"
#include "app/capture/sources/shareable_content.h"
#include "kit/media/frame_pool.h"

namespace tolvane {

class X11Connection;
class X11CursorPainter;
class X11ShmImage;

// One monitor of an X server, read through MIT-SHM at the configured rate with the
// pointer drawn in from XFixes. XDamage tells whether anything changed, so a static
// screen is delivered as idle frames without being read at all.
class X11ScreenSource : public ScreenSource {
 public:
  // Throws CaptureSourceError: the X server cannot be opened, or targetGone "That
  // display isn't available any more." when no monitor has `displayID`.
  X11ScreenSource(const std::string& xDisplayName, std::uint32_t displayID, ScreenCaptureSettings settings);
  ~X11ScreenSource() override;

  void start(FrameHandler onFrame, FailureHandler onFailure) override;
  void stop() override;
  const ScreenCaptureSettings& settings() const override { return settings_; }

 private:
  bool tick();
  bool takeDamage();

  ScreenCaptureSettings settings_;
  std::unique_ptr<X11Connection> connection_;
  DisplayInfo monitor_;
  std::unique_ptr<X11ShmImage> image_;
  std::unique_ptr<X11CursorPainter> cursor_;
  FramePool pool_;
  ::Damage damage_ = 0;
  int damageEventBase_ = 0;
  bool hasDelivered_ = false;
  FrameHandler onFrame_;
  FailureHandler onFailure_;
  PacedLoop loop_;  // last: stops before the state it uses goes away
};

}  // namespace tolvane
