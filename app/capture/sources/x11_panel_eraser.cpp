#include "app/capture/sources/x11_panel_eraser.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "app/capture/sources/x11_connection.h"
#include "kit/base/log.h"

namespace tolvane {

namespace {

// Frames read again after the windows changed, covering a compositing manager that
// repaints a frame or two late.
constexpr int kSettlingFrames = 4;
// Frames before a window that had no composite pixmap is asked for one again.
constexpr int kUnnamedRetryFrames = 10;

// What compositing managers paint where the root has no wallpaper pixmap.
constexpr XRenderColor kNoWallpaperGray{0x8080, 0x8080, 0x8080, 0xFFFF};

bool overlaps(const X11TopLevelWindows::Window& window, const XRectangle& area, int originX, int originY) {
  const int left = window.x - originX;
  const int top = window.y - originY;
  return left < area.x + area.width && area.x < left + window.width && top < area.y + area.height &&
         area.y < top + window.height;
}

}  // namespace

X11PanelEraser::X11PanelEraser(X11Connection& connection, int x, int y, int width, int height)
    : connection_(connection), windows_(connection), x_(x), y_(y), width_(width), height_(height) {
  ::Display* display = connection_.display();
  const std::string selection = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
  compositingSelection_ = connection_.atom(selection.c_str());
  rootPixmapAtoms_[0] = connection_.atom("_XROOTPMAP_ID");
  rootPixmapAtoms_[1] = connection_.atom("_XSETROOT_ID");
  XWindowAttributes attributes{};
  XGetWindowAttributes(display, connection_.root(), &attributes);
  // A new wallpaper is announced as a property change on the root.
  XSelectInput(display, connection_.root(), attributes.your_event_mask | PropertyChangeMask);
  // A compositing manager that starts or quits changes which windows have pixmaps.
  int errorBase = 0;
  if (XFixesQueryExtension(display, &fixesEventBase_, &errorBase) != 0) {
    XFixesSelectSelectionInput(display, connection_.root(), compositingSelection_,
                               XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
  } else {
    fixesEventBase_ = -1;
  }
  isCompositing_ = hasCompositingManager();
  windows_.watchDamage(isCompositing_);
}

X11PanelEraser::~X11PanelEraser() {
  if (connection_.isBroken()) return;
  ::Display* display = connection_.display();
  X11ErrorTrap trap(connection_);
  for (auto& [window, named] : named_) {
    if (named.picture != 0) XRenderFreePicture(display, named.picture);
    if (named.pixmap != 0) XFreePixmap(display, named.pixmap);
  }
  releaseBackground();
  if (rootPicture_ != 0) XRenderFreePicture(display, rootPicture_);
  if (scratchPicture_ != 0) XRenderFreePicture(display, scratchPicture_);
  if (scratch_ != 0) XFreePixmap(display, scratch_);
}

void X11PanelEraser::handleEvent(const XEvent& event) {
  if (event.type == PropertyNotify && event.xproperty.window == connection_.root() &&
      std::find(std::begin(rootPixmapAtoms_), std::end(rootPixmapAtoms_), event.xproperty.atom) !=
          std::end(rootPixmapAtoms_)) {
    isBackgroundStale_ = true;
  }
  if (fixesEventBase_ >= 0 && event.type == fixesEventBase_ + XFixesSelectionNotify) {
    // Pixmaps named under the old manager no longer follow their windows.
    while (!named_.empty()) forget(named_.begin()->first);
    isCompositing_ = hasCompositingManager();
    windows_.watchDamage(isCompositing_);
    windows_.markChanged();
  }
  windows_.handleEvent(event);
}

bool X11PanelEraser::hasCompositingManager() const {
  return XGetSelectionOwner(connection_.display(), compositingSelection_) != 0;
}

bool X11PanelEraser::update() {
  for (::Window window : windows_.takeRenamedWindows()) forget(window);
  const bool retries = retryUnnamed();
  if (!windows_.refresh()) {
    if (settlingFrames_ == 0) return retries;
    if (--settlingFrames_ == 0) rebuilt_ = panels_;
    return true;
  }
  const bool panelShown = windows_.hasExcludedWindow();
  if (panelShown && !isCompositing_ && !loggedNoCompositor_) {
    loggedNoCompositor_ = true;
    Logger("capture").warning(
        "no compositing manager runs, so Tolvane's floating controls will show in display recordings");
  }
  std::vector<XRectangle> before = std::move(panels_);
  panels_.clear();
  for (const auto& window : windows_.windows()) {
    if (!window.isViewable || !window.isExcluded) continue;
    // Only what the panel shows is painted again: where the canvas has no stroke, the
    // screen already shows what lies under it.
    for (const XRectangle& area : window.shownAreas) {
      const int left = std::max(window.x + area.x - x_, 0);
      const int top = std::max(window.y + area.y - y_, 0);
      const int right = std::min(window.x + area.x + area.width - x_, width_);
      const int bottom = std::min(window.y + area.y + area.height - y_, height_);
      if (right <= left || bottom <= top) continue;
      panels_.push_back(XRectangle{static_cast<short>(left), static_cast<short>(top),
                                   static_cast<unsigned short>(right - left),
                                   static_cast<unsigned short>(bottom - top)});
    }
  }
  rebuilt_ = panels_;
  if (isCompositing_) {
    // Where a panel just was, the screen may still show it.
    rebuilt_.insert(rebuilt_.end(), before.begin(), before.end());
    settlingFrames_ = kSettlingFrames;
  }
  return true;
}

bool X11PanelEraser::retryUnnamed() {
  // Nothing may change on an idle screen once the windows are redirected: the frame that
  // names them again is read for that alone.
  bool retries = false;
  for (auto entry = named_.begin(); entry != named_.end();) {
    if (entry->second.picture == 0 && --entry->second.retryIn <= 0) {
      entry = named_.erase(entry);
      retries = true;
    } else {
      ++entry;
    }
  }
  return retries;
}

void X11PanelEraser::forget(::Window window) {
  auto found = named_.find(window);
  if (found == named_.end()) return;
  if (!connection_.isBroken()) {
    X11ErrorTrap trap(connection_);  // the window, and with it the pixmap's source, may be gone
    if (found->second.picture != 0) XRenderFreePicture(connection_.display(), found->second.picture);
    if (found->second.pixmap != 0) XFreePixmap(connection_.display(), found->second.pixmap);
  }
  named_.erase(found);
}

void X11PanelEraser::releaseBackground() {
  if (background_ != 0) XRenderFreePicture(connection_.display(), background_);
  background_ = 0;
  backgroundPixmap_ = 0;
}

::Picture X11PanelEraser::backgroundPicture() {
  if (!isBackgroundStale_) return background_;
  isBackgroundStale_ = false;
  ::Display* display = connection_.display();
  ::Pixmap pixmap = 0;
  for (::Atom atom : rootPixmapAtoms_) {
    auto values = connection_.longProperty(connection_.root(), atom, XA_PIXMAP);
    if (!values.empty() && values[0] != 0) {
      pixmap = values[0];
      break;
    }
  }
  if (pixmap == backgroundPixmap_) return background_;
  releaseBackground();
  if (pixmap == 0) return 0;
  ::Window root = 0;
  int x = 0;
  int y = 0;
  unsigned int width = 0;
  unsigned int height = 0;
  unsigned int border = 0;
  unsigned int depth = 0;
  X11ErrorTrap trap(connection_);
  if (XGetGeometry(display, pixmap, &root, &x, &y, &width, &height, &border, &depth) == 0 || trap.failed() ||
      static_cast<int>(depth) != DefaultDepth(display, DefaultScreen(display))) {
    return 0;
  }
  XRenderPictureAttributes attributes{};
  attributes.repeat = RepeatNormal;  // a small tile covers the whole root, as it does on screen
  XRenderPictFormat* format = XRenderFindVisualFormat(display, DefaultVisual(display, DefaultScreen(display)));
  ::Picture picture = XRenderCreatePicture(display, pixmap, format, CPRepeat, &attributes);
  if (trap.failed()) return 0;
  backgroundPixmap_ = pixmap;
  background_ = picture;
  return background_;
}

::Picture X11PanelEraser::windowPicture(const X11TopLevelWindows::Window& window) {
  auto found = named_.find(window.id);
  if (found != named_.end()) return found->second.picture;
  ::Display* display = connection_.display();
  XRenderPictFormat* format = XRenderFindVisualFormat(display, window.visual);
  if (format == nullptr) return 0;
  X11ErrorTrap trap(connection_);
  // The server renders the window into this pixmap whatever covers it on screen; the
  // name stays valid until the window is resized, unmapped or destroyed.
  ::Pixmap pixmap = XCompositeNameWindowPixmap(display, window.id);
  if (trap.failed()) {
    // Not redirected: a compositing manager's own overlay window, or any window while a
    // manager that has just taken the selection has yet to redirect them all. Asked
    // again in a while (see update()), or when the window changes.
    named_.emplace(window.id, NamedPicture{0, 0, kUnnamedRetryFrames});
    return 0;
  }
  ::Picture picture = XRenderCreatePicture(display, pixmap, format, 0, nullptr);
  if (trap.failed()) {
    XFreePixmap(display, pixmap);
    return 0;
  }
  named_.emplace(window.id, NamedPicture{pixmap, picture});
  return picture;
}

bool X11PanelEraser::build() {
  if (connection_.isBroken()) return false;
  ::Display* display = connection_.display();
  X11ErrorTrap trap(connection_);
  const int screen = DefaultScreen(display);
  XRenderPictFormat* format = XRenderFindVisualFormat(display, DefaultVisual(display, screen));
  if (format == nullptr) return false;
  if (scratch_ == 0) {
    scratch_ = XCreatePixmap(display, connection_.root(), static_cast<unsigned>(width_),
                             static_cast<unsigned>(height_), static_cast<unsigned>(DefaultDepth(display, screen)));
    scratchPicture_ = XRenderCreatePicture(display, scratch_, format, 0, nullptr);
    XRenderPictureAttributes attributes{};
    // The root's own contents include what is drawn in its children: the screen.
    attributes.subwindow_mode = IncludeInferiors;
    rootPicture_ = XRenderCreatePicture(display, connection_.root(), format, CPSubwindowMode, &attributes);
  }
  // Under a panel that covers the whole monitor (the drawing canvas) everything is
  // painted again below, and the screen's own picture is not needed.
  const bool coversMonitor = std::any_of(rebuilt_.begin(), rebuilt_.end(), [&](const XRectangle& area) {
    return area.x == 0 && area.y == 0 && area.width == width_ && area.height == height_;
  });
  if (!coversMonitor) {
    XRenderComposite(display, PictOpSrc, rootPicture_, 0, scratchPicture_, x_, y_, 0, 0, 0, 0,
                     static_cast<unsigned>(width_), static_cast<unsigned>(height_));
  }
  return !trap.failed() && rebuild(scratchPicture_);
}

bool X11PanelEraser::paintOver(::Picture target) { return !connection_.isBroken() && rebuild(target); }

bool X11PanelEraser::rebuild(::Picture target) {
  ::Display* display = connection_.display();
  X11ErrorTrap trap(connection_);
  XRenderSetPictureClipRectangles(display, target, 0, 0, rebuilt_.data(), static_cast<int>(rebuilt_.size()));
  if (::Picture background = backgroundPicture(); background != 0) {
    XRenderComposite(display, PictOpSrc, background, 0, target, x_, y_, 0, 0, 0, 0, static_cast<unsigned>(width_),
                     static_cast<unsigned>(height_));
  } else {
    XRenderFillRectangle(display, PictOpSrc, target, &kNoWallpaperGray, 0, 0, static_cast<unsigned>(width_),
                         static_cast<unsigned>(height_));
  }
  for (const auto& window : windows_.windows()) {
    if (!window.isViewable || window.isExcluded) continue;
    const bool isUnder = std::any_of(rebuilt_.begin(), rebuilt_.end(),
                                     [&](const XRectangle& panel) { return overlaps(window, panel, x_, y_); });
    if (!isUnder) continue;
    ::Picture picture = windowPicture(window);
    if (picture == 0) continue;
    // A window with an alpha channel is blended over what lies below, as the
    // compositing manager does; an opaque one covers it.
    const int op = window.depth == 32 ? PictOpOver : PictOpSrc;
    XRenderComposite(display, op, picture, 0, target, 0, 0, 0, 0, window.x - x_, window.y - y_,
                     static_cast<unsigned>(window.width), static_cast<unsigned>(window.height));
  }
  XRenderPictureAttributes noClip{};
  noClip.clip_mask = 0;
  XRenderChangePicture(display, target, CPClipMask, &noClip);
  // Waits for the server to have drawn: the picture may be read right after.
  if (!trap.failed()) return true;
  // A window went away halfway: the pixmaps are named again from a fresh list.
  for (const auto& window : windows_.windows()) forget(window.id);
  windows_.markChanged();
  isBackgroundStale_ = true;
  return false;
}

}  // namespace tolvane
