#include "app/capture/sources/x11_screen_source.h"

#include <algorithm>

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/x11_connection.h"
#include "app/capture/sources/x11_content_reader.h"
#include "app/capture/sources/x11_cursor_painter.h"
#include "app/capture/sources/x11_panel_eraser.h"
#include "app/capture/sources/x11_shm_image.h"
#include "kit/base/clock.h"

namespace tolvane {

namespace {

const char* const serverLost = "Tolvane lost the connection to the X server.";

const char* const displayGone = "That display isn't available any more.";

// Frames read after the last damage under a compositing manager: it repaints the screen
// within a frame or two of a window's change.
constexpr int kTrailingFrames = 2;

}  // namespace

X11ScreenSource::X11ScreenSource(const std::string& xDisplayName, std::uint32_t displayID,
                                 ScreenCaptureSettings settings)
    : X11PictureSource(xDisplayName, settings) {
  auto displays = X11ContentReader(connection()).displays();
  auto found = std::find_if(displays.begin(), displays.end(),
                            [&](const DisplayInfo& d) { return d.displayID == displayID; });
  if (found == displays.end()) throw CaptureSourceError(CaptureSourceError::Kind::targetGone, displayGone);
  monitor_ = *found;

  ::Display* display = connection().display();
  int screen = DefaultScreen(display);
  setPictureFormat(DefaultVisual(display, screen), DefaultDepth(display, screen), monitor_.width, monitor_.height);
  eraser_ = std::make_unique<X11PanelEraser>(connection(), monitor_.x, monitor_.y, monitor_.width, monitor_.height);
  watchDamage(connection().root());
}

X11ScreenSource::~X11ScreenSource() { stop(); }

bool X11ScreenSource::tick() {
  double hostTime = monotonicSeconds();
  // With every buffer still in the pipeline, the damage is left for the next tick.
  if (!canRead()) return true;
  bool damaged = takeEvents([this](const XEvent& event) { eraser_->handleEvent(event); });
  // A window that moved or was restacked needs no damage of its own to change the screen.
  bool restacked = eraser_->update();
  bool cursorMoved = settings().showsCursor && cursor().update();
  if (connection().isBroken()) {
    fail(serverLost);
    return false;
  }
  // Under a compositing manager a window's damage is seen before the manager has put it
  // on screen; the next frames are read too, so the last change is never left out.
  if (damaged && eraser_->isCompositing()) trailingFrames_ = kTrailingFrames;
  const bool trailing = !damaged && trailingFrames_ > 0;
  if (trailing) --trailingFrames_;
  if (hasDelivered() && !damaged && !restacked && !cursorMoved && !trailing) {
    deliverIdle(hostTime);
    return true;
  }
  if (eraser_->isErasing() && canPaintOver_) {
    // What lies under the panels is painted over the screen as read, in the picture's
    // own memory: the rest of the monitor costs nothing more than without panels.
    auto paintOver = [this](X11ShmImage& picture) {
      const ::Picture target = picture.renderPicture();
      if (target == 0) canPaintOver_ = false;
      return target != 0 && eraser_->paintOver(target);
    };
    if (deliverPicture(connection().root(), monitor_.x, monitor_.y, monitor_.x, monitor_.y, hostTime, paintOver)) {
      return true;
    }
  }
  if (eraser_->isErasing() && !canPaintOver_ && eraser_->build() &&
      deliverPicture(eraser_->drawable(), 0, 0, monitor_.x, monitor_.y, hostTime)) {
    return true;
  }
  if (!deliverPicture(connection().root(), monitor_.x, monitor_.y, monitor_.x, monitor_.y, hostTime)) {
    // The monitor shrank or went away under us, or the server did.
    fail(connection().isBroken() ? serverLost : displayGone);
    return false;
  }
  return true;
}

}  // namespace tolvane
