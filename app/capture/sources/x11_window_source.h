#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <memory>
#include <string>

#include "app/capture/sources/paced_loop.h"
#include "app/capture/sources/screen_source.h"
#include "kit/media/frame_pool.h"

namespace tolvane {

class X11Connection;
class X11CursorPainter;
class X11ShmImage;

// A single window of an X server. The window is redirected with XComposite, so the server
// keeps its full contents in a pixmap of its own even where other windows cover it, and
// the pixmap is read at the configured rate. XDamage on the window drives the idle status;
// the window closing ends the source with "That window has closed.".
class X11WindowSource : public ScreenSource {
 public:
  // Throws CaptureSourceError: the X server cannot be opened, targetGone "That window
  // has closed." when the window no longer exists, or streamFailed without XComposite.
  X11WindowSource(const std::string& xDisplayName, std::uint32_t windowID, ScreenCaptureSettings settings);
  ~X11WindowSource() override;

  void start(FrameHandler onFrame, FailureHandler onFailure) override;
  void stop() override;
  const ScreenCaptureSettings& settings() const override { return settings_; }

 private:
  enum class Events { none, damaged, closed };
  bool tick();
  Events takeEvents();
  bool nameWindowPixmap();
  void releasePixmap();

  ScreenCaptureSettings settings_;
  std::unique_ptr<X11Connection> connection_;
  ::Window window_;
  ::Pixmap pixmap_ = 0;
  int pixmapWidth_ = 0;
  int pixmapHeight_ = 0;
  ::Visual* visual_ = nullptr;
  int depth_ = 0;
  bool isMapped_ = false;
  bool needsPixmap_ = true;
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
