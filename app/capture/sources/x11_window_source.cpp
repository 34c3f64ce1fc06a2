#include "app/capture/sources/x11_window_source.h"

#include <X11/Xutil.h>
#include <X11/extensions/Xcomposite.h>

#include <algorithm>

#include "app/capture/sources/bgra_fit.h"
#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/x11_connection.h"
#include "app/capture/sources/x11_cursor_painter.h"
#include "app/capture/sources/x11_shm_image.h"
#include "kit/base/clock.h"

namespace tolvane {

namespace {

const char* const serverLost = "Tolvane lost the connection to the X server.";

const char* const windowClosed = "That window has closed.";

bool hasNamedPixmaps(::Display* display) {
  int eventBase = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  return XCompositeQueryExtension(display, &eventBase, &errorBase) != 0 &&
         XCompositeQueryVersion(display, &major, &minor) != 0 && (major > 0 || minor >= 2);
}

}  // namespace

X11WindowSource::X11WindowSource(const std::string& xDisplayName, std::uint32_t windowID,
                                 ScreenCaptureSettings settings)
    : settings_(settings),
      connection_(std::make_unique<X11Connection>(xDisplayName)),
      window_(windowID),
      pool_(std::max(2, settings.width), std::max(2, settings.height), 8) {
  ::Display* display = connection_->display();
  XWindowAttributes attributes{};
  {
    X11ErrorTrap trap(*connection_);
    if (XGetWindowAttributes(display, window_, &attributes) == 0 || trap.failed()) {
      throw CaptureSourceError(CaptureSourceError::Kind::targetGone, windowClosed);
    }
  }
  if (!hasNamedPixmaps(display)) {
    throw CaptureSourceError(CaptureSourceError::Kind::streamFailed,
                             "Tolvane can't record a single window on this X server because it lacks the "
                             "Composite extension.");
  }
  visual_ = attributes.visual;
  depth_ = attributes.depth;
  isMapped_ = attributes.map_state == IsViewable;

  X11ErrorTrap trap(*connection_);
  // Automatic redirection: the server still paints the window on screen, and keeps its
  // contents off screen too, covered or not.
  XCompositeRedirectWindow(display, window_, CompositeRedirectAutomatic);
  XSelectInput(display, window_, StructureNotifyMask);
  int errorBase = 0;
  if (XDamageQueryExtension(display, &damageEventBase_, &errorBase) != 0) {
    damage_ = XDamageCreate(display, window_, XDamageReportNonEmpty);
  }
  if (trap.failed()) throw CaptureSourceError(CaptureSourceError::Kind::targetGone, windowClosed);
  cursor_ = std::make_unique<X11CursorPainter>(*connection_);
}

X11WindowSource::~X11WindowSource() {
  stop();
  if (connection_->isBroken()) return;
  ::Display* display = connection_->display();
  X11ErrorTrap trap(*connection_);
  releasePixmap();
  if (damage_ != 0) XDamageDestroy(display, damage_);
  XCompositeUnredirectWindow(display, window_, CompositeRedirectAutomatic);
  XSelectInput(display, window_, NoEventMask);
}

void X11WindowSource::start(FrameHandler onFrame, FailureHandler onFailure) {
  onFrame_ = std::move(onFrame);
  onFailure_ = std::move(onFailure);
  loop_.start(settings_.frameRate, [this] { return tick(); });
}

void X11WindowSource::stop() { loop_.stop(); }

void X11WindowSource::releasePixmap() {
  if (pixmap_ == 0) return;
  XFreePixmap(connection_->display(), pixmap_);
  pixmap_ = 0;
}

bool X11WindowSource::nameWindowPixmap() {
  ::Display* display = connection_->display();
  X11ErrorTrap trap(*connection_);
  releasePixmap();
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display, window_, &attributes) == 0 || trap.failed()) return false;
  // A window's pixmap is replaced whenever it is resized or mapped again.
  ::Pixmap pixmap = XCompositeNameWindowPixmap(display, window_);
  if (trap.failed()) return false;
  pixmap_ = pixmap;
  int width = attributes.width + 2 * attributes.border_width;
  int height = attributes.height + 2 * attributes.border_width;
  if (!image_ || width != pixmapWidth_ || height != pixmapHeight_) {
    image_.reset();
    image_ = std::make_unique<X11ShmImage>(*connection_, visual_, depth_, width, height);
    pixmapWidth_ = width;
    pixmapHeight_ = height;
  }
  needsPixmap_ = false;
  return true;
}

X11WindowSource::Events X11WindowSource::takeEvents() {
  ::Display* display = connection_->display();
  bool damaged = false;
  while (!connection_->isBroken() && XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    switch (event.type) {
      case DestroyNotify:
        if (event.xdestroywindow.window == window_) return Events::closed;
        break;
      case UnmapNotify:
        if (event.xunmap.window == window_) isMapped_ = false;
        break;
      case MapNotify:
        if (event.xmap.window == window_) isMapped_ = needsPixmap_ = true;
        break;
      case ConfigureNotify:
        if (event.xconfigure.window == window_ &&
            (event.xconfigure.width + 2 * event.xconfigure.border_width != pixmapWidth_ ||
             event.xconfigure.height + 2 * event.xconfigure.border_width != pixmapHeight_)) {
          needsPixmap_ = true;
        }
        break;
      default:
        if (event.type == damageEventBase_ + XDamageNotify) damaged = true;
        break;
    }
  }
  if (damaged && !connection_->isBroken()) XDamageSubtract(display, damage_, None, None);
  return damaged || damage_ == 0 ? Events::damaged : Events::none;
}

bool X11WindowSource::tick() {
  double hostTime = monotonicSeconds();
  Events events = takeEvents();
  if (connection_->isBroken()) {
    onFailure_(serverLost);
    return false;
  }
  if (events == Events::closed) {
    onFailure_(windowClosed);
    return false;
  }
  bool changed = events == Events::damaged;
  if (isMapped_ && needsPixmap_) {
    if (!nameWindowPixmap()) {
      // Unmapped between the event and the request, or gone: the next events tell which.
      onFrame_(ScreenFrame{VideoFrame(), hostTime, FrameStatus::idle});
      return true;
    }
    changed = true;
  }
  bool cursorMoved = settings_.showsCursor && cursor_->update();
  if (!isMapped_ || pixmap_ == 0 || (hasDelivered_ && !changed && !cursorMoved)) {
    // A minimised window keeps its last picture, as a covered one does.
    onFrame_(ScreenFrame{VideoFrame(), hostTime, FrameStatus::idle});
    return true;
  }
  if (!image_->grab(pixmap_, 0, 0)) {
    needsPixmap_ = true;
    onFrame_(ScreenFrame{VideoFrame(), hostTime, FrameStatus::idle});
    return true;
  }
  if (settings_.showsCursor) {
    ::Window child = None;
    int originX = 0;
    int originY = 0;
    X11ErrorTrap trap(*connection_);
    XTranslateCoordinates(connection_->display(), window_, connection_->root(), 0, 0, &originX, &originY, &child);
    if (!trap.failed()) {
      cursor_->paint(image_->data(), image_->stride(), image_->width(), image_->height(), originX, originY);
    }
  }
  VideoFrame frame = pool_.acquire();
  fitBGRA(image_->data(), image_->stride(), image_->width(), image_->height(), frame);
  hasDelivered_ = true;
  onFrame_(ScreenFrame{std::move(frame), hostTime, FrameStatus::complete});
  return true;
}

}  // namespace tolvane
