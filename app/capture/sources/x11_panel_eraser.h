#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xrender.h>

#include <unordered_map>
#include <vector>

#include "app/capture/sources/x11_top_level_windows.h"

namespace tolvane {

class X11Connection;

// Takes Tolvane's own floating panels back out of a picture of a monitor. The recording
// composites the camera bubble, the strokes and the blur itself, so the panels that show
// them (and the pill and toolbar) must not be recorded a second time.
//
// The picture is made on the server: the monitor as the compositing manager shows it is
// read into shared memory as without panels; then, clipped to the rectangles our panels
// cover (only the parts of them that show anything: see
// X11TopLevelWindows::Window::shownAreas), the desktop background and every other
// visible top-level window, bottom to top, are painted again over it from their
// composite pixmaps with XRender, through a shared pixmap over the same memory. What
// lies under a panel is then in the picture, and the panel is not. A server without
// shared pixmaps has the screen copied into a scratch pixmap of the eraser's instead,
// painted over there, and read from it.
//
// Only under a compositing manager does every top-level window have a composite pixmap;
// without one the panels stay in the picture (and available() is false).
class X11PanelEraser {
 public:
  // `x`, `y`, `width`, `height`: the monitor, in root-window pixels.
  X11PanelEraser(X11Connection& connection, int x, int y, int width, int height);
  ~X11PanelEraser();
  X11PanelEraser(const X11PanelEraser&) = delete;
  X11PanelEraser& operator=(const X11PanelEraser&) = delete;

  void handleEvent(const XEvent& event);
  // Once a frame: reads what changed among the top-level windows. True when any window
  // came, went, moved or was restacked, or a panel's shown areas changed, and for a few
  // frames after that: the picture changes without damage being reported for it, when
  // the compositing manager gets to repainting the screen.
  bool update();
  // Whether a panel of ours covers part of the monitor and can be taken out, so that the
  // picture is to come from paintOver() (or build() and drawable()).
  bool isErasing() const { return isCompositing_ && !rebuilt_.empty(); }
  // Whether a compositing manager runs: the windows' own damage then tells of changes,
  // not the root's.
  bool isCompositing() const { return isCompositing_; }
  // Paints what lies under our panels over `target`, a picture of the monitor as the
  // screen showed it a moment ago, of the monitor's size; false when the server refused.
  bool paintOver(::Picture target);
  // Builds the picture without our panels in a pixmap of the eraser's own, for servers
  // that cannot draw into a picture read (see paintOver()); false when refused.
  bool build();
  // The picture build() made, of the monitor's size, at (0, 0).
  ::Pixmap drawable() const { return scratch_; }

 private:
  struct NamedPicture {
    ::Pixmap pixmap = 0;
    ::Picture picture = 0;
    int retryIn = 0;  // without a pixmap: the frames until it is asked for one again
  };

  bool hasCompositingManager() const;
  // Paints the desktop and the windows again into `target`, clipped to rebuilt_.
  bool rebuild(::Picture target);
  ::Picture backgroundPicture();
  ::Picture windowPicture(const X11TopLevelWindows::Window& window);
  // Forgets the windows that had no composite pixmap a while ago; true when there were any.
  bool retryUnnamed();
  void forget(::Window window);
  void releaseBackground();

  X11Connection& connection_;
  X11TopLevelWindows windows_;
  int x_;
  int y_;
  int width_;
  int height_;
  ::Atom compositingSelection_;
  ::Atom rootPixmapAtoms_[2];
  int fixesEventBase_ = -1;
  bool isCompositing_ = false;
  bool loggedNoCompositor_ = false;
  bool isBackgroundStale_ = true;
  // What is painted again, in picture coordinates: where our panels show anything,
  // and for a few frames after they moved or changed, where they did, since the
  // compositing manager may not have repainted there yet.
  std::vector<XRectangle> rebuilt_;
  std::vector<XRectangle> panels_;  // where they are now
  int settlingFrames_ = 0;
  ::Pixmap scratch_ = 0;
  ::Picture scratchPicture_ = 0;
  ::Picture rootPicture_ = 0;
  ::Pixmap backgroundPixmap_ = 0;  // the root's wallpaper pixmap as last read; not ours
  ::Picture background_ = 0;
  std::unordered_map<::Window, NamedPicture> named_;  // no picture: the window had no composite pixmap
};

}  // namespace tolvane
