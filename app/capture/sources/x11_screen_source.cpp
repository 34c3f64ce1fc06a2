#include "app/capture/sources/x11_screen_source.h"

#include <X11/Xutil.h>

#include <algorithm>

#include "app/capture/sources/bgra_fit.h"
#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/x11_connection.h"
#include "app/capture/sources/x11_content_reader.h"
#include "app/capture/sources/x11_cursor_painter.h"
#include "app/capture/sources/x11_shm_image.h"
#include "kit/base/clock.h"

namespace tolvane {

namespace {

const char* const serverLost = "Tolvane lost the connection to the X server.";

const char* const displayGone = "That display isn't available any more.";

}  // namespace

X11ScreenSource::X11ScreenSource(const std::string& xDisplayName, std::uint32_t displayID,
                                 ScreenCaptureSettings settings)
    : settings_(settings),
      connection_(std::make_unique<X11Connection>(xDisplayName)),
      pool_(std::max(2, settings.width), std::max(2, settings.height), 8) {
  auto displays = X11ContentReader(*connection_).displays();
  auto found = std::find_if(displays.begin(), displays.end(),
                            [&](const DisplayInfo& d) { return d.displayID == displayID; });
  if (found == displays.end()) throw CaptureSourceError(CaptureSourceError::Kind::targetGone, displayGone);
  monitor_ = *found;

  ::Display* display = connection_->display();
  int screen = DefaultScreen(display);
  image_ = std::make_unique<X11ShmImage>(*connection_, DefaultVisual(display, screen), DefaultDepth(display, screen),
                                         monitor_.width, monitor_.height);
  cursor_ = std::make_unique<X11CursorPainter>(*connection_);
  int errorBase = 0;
  if (XDamageQueryExtension(display, &damageEventBase_, &errorBase) != 0) {
    damage_ = XDamageCreate(display, connection_->root(), XDamageReportNonEmpty);
  }
}

X11ScreenSource::~X11ScreenSource() {
  stop();
  if (damage_ != 0 && !connection_->isBroken()) {
    X11ErrorTrap trap(*connection_);
    XDamageDestroy(connection_->display(), damage_);
  }
}

void X11ScreenSource::start(FrameHandler onFrame, FailureHandler onFailure) {
  onFrame_ = std::move(onFrame);
  onFailure_ = std::move(onFailure);
  loop_.start(settings_.frameRate, [this] { return tick(); });
}

void X11ScreenSource::stop() { loop_.stop(); }

bool X11ScreenSource::takeDamage() {
  ::Display* display = connection_->display();
  if (damage_ == 0 || connection_->isBroken()) return true;  // without XDamage every frame is read
  bool damaged = false;
  while (!connection_->isBroken() && XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == damageEventBase_ + XDamageNotify) damaged = true;
  }
  // Subtracted before reading, so changes made while the picture is read raise a new
  // event and are caught by the next tick.
  if (damaged && !connection_->isBroken()) XDamageSubtract(display, damage_, None, None);
  return damaged;
}

bool X11ScreenSource::tick() {
  double hostTime = monotonicSeconds();
  bool damaged = takeDamage();
  bool cursorMoved = settings_.showsCursor && cursor_->update();
  if (connection_->isBroken()) {
    onFailure_(serverLost);
    return false;
  }
  if (hasDelivered_ && !damaged && !cursorMoved) {
    onFrame_(ScreenFrame{VideoFrame(), hostTime, FrameStatus::idle});
    return true;
  }
  if (!image_->grab(connection_->root(), monitor_.x, monitor_.y)) {
    // The monitor shrank or went away under us, or the server did.
    onFailure_(connection_->isBroken() ? serverLost : displayGone);
    return false;
  }
  if (settings_.showsCursor) {
    cursor_->paint(image_->data(), image_->stride(), image_->width(), image_->height(), monitor_.x, monitor_.y);
  }
  VideoFrame frame = pool_.acquire();
  fitBGRA(image_->data(), image_->stride(), image_->width(), image_->height(), frame);
  hasDelivered_ = true;
  onFrame_(ScreenFrame{std::move(frame), hostTime, FrameStatus::complete});
  return true;
}

}  // namespace tolvane
