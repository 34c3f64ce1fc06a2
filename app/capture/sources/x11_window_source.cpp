#include "app/capture/sources/x11_window_source.h"

#include <X11/extensions/Xcomposite.h>

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/x11_connection.h"
#include "app/capture/sources/x11_cursor_painter.h"
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
    : X11PictureSource(xDisplayName, settings), window_(windowID) {
  ::Display* display = connection().display();
  XWindowAttributes attributes{};
  {
    X11ErrorTrap trap(connection());
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

  X11ErrorTrap trap(connection());
  // Automatic redirection: the server still paints the window on screen, and keeps its
  // contents off screen too, covered or not.
  XCompositeRedirectWindow(display, window_, CompositeRedirectAutomatic);
  XSelectInput(display, window_, StructureNotifyMask);
  watchDamage(window_);
  if (trap.failed()) throw CaptureSourceError(CaptureSourceError::Kind::targetGone, windowClosed);
}

X11WindowSource::~X11WindowSource() {
  stop();
  if (connection().isBroken()) return;
  ::Display* display = connection().display();
  X11ErrorTrap trap(connection());
  releasePixmap();
  XCompositeUnredirectWindow(display, window_, CompositeRedirectAutomatic);
  XSelectInput(display, window_, NoEventMask);
}

void X11WindowSource::releasePixmap() {
  if (pixmap_ == 0) return;
  XFreePixmap(connection().display(), pixmap_);
  pixmap_ = 0;
}

bool X11WindowSource::nameWindowPixmap() {
  ::Display* display = connection().display();
  X11ErrorTrap trap(connection());
  releasePixmap();
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display, window_, &attributes) == 0 || trap.failed()) return false;
  // A window's pixmap is replaced whenever it is resized or mapped again.
  ::Pixmap pixmap = XCompositeNameWindowPixmap(display, window_);
  if (trap.failed()) return false;
  pixmap_ = pixmap;
  pixmapWidth_ = attributes.width + 2 * attributes.border_width;
  pixmapHeight_ = attributes.height + 2 * attributes.border_width;
  setPictureFormat(visual_, depth_, pixmapWidth_, pixmapHeight_);
  needsPixmap_ = false;
  return true;
}

bool X11WindowSource::takeWindowEvents(bool& damaged) {
  bool closed = false;
  damaged = takeEvents([&](const XEvent& event) {
    switch (event.type) {
      case DestroyNotify:
        if (event.xdestroywindow.window == window_) closed = true;
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
        break;
    }
  });
  return !closed;
}

bool X11WindowSource::tick() {
  double hostTime = monotonicSeconds();
  // With every buffer still in the pipeline, the events are left for the next tick.
  if (!canRead()) return true;
  bool changed = false;
  bool open = takeWindowEvents(changed);
  if (connection().isBroken()) {
    fail(serverLost);
    return false;
  }
  if (!open) {
    fail(windowClosed);
    return false;
  }
  if (isMapped_ && needsPixmap_) {
    bool named = false;
    try {
      named = nameWindowPixmap();
    } catch (const CaptureSourceError& error) {
      fail(error.what());  // a picture format Tolvane cannot read
      return false;
    }
    if (!named) {
      // Unmapped between the event and the request, or gone: the next events tell which.
      deliverIdle(hostTime);
      return true;
    }
    changed = true;
  }
  bool cursorMoved = settings().showsCursor && cursor().update();
  if (!isMapped_ || pixmap_ == 0 || (hasDelivered() && !changed && !cursorMoved)) {
    // A minimised window keeps its last picture, as a covered one does.
    deliverIdle(hostTime);
    return true;
  }
  int originX = 0;
  int originY = 0;
  {
    ::Window child = None;
    X11ErrorTrap trap(connection());
    XTranslateCoordinates(connection().display(), window_, connection().root(), 0, 0, &originX, &originY, &child);
    if (trap.failed()) originX = originY = -1'000'000;  // the pointer then falls outside the picture
  }
  if (!deliverPicture(pixmap_, 0, 0, originX, originY, hostTime)) {
    needsPixmap_ = true;
    deliverIdle(hostTime);
  }
  return true;
}

}  // namespace tolvane
