#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <optional>
#include <unordered_map>
#include <vector>

namespace tolvane {

class X11Connection;

// The top-level windows of the root window in stacking order (bottom first), and which
// of them are Tolvane's own floating panels: those carrying _TOLVANE_CAPTURE_EXCLUDED,
// on the top-level itself or, under a reparenting window manager, on the client inside
// its frame. The list is read again only after the root reports a change of its
// children (created, destroyed, mapped, moved, restacked), so a still desktop costs no
// round trip per frame.
//
// Of a panel it also tells which parts show anything: the drawing canvas covers the
// whole monitor but paints only where the strokes are, and says where in
// _TOLVANE_CAPTURE_EXCLUDED_AREAS; a shaped panel shows only its bounding shape. Both
// are read when the panel is first seen and again only when it reports a change of them
// (PropertyNotify, ShapeNotify) or is moved or resized.
//
// Under a compositing manager the top-level windows draw into pixmaps of their own, and
// the manager's repaints of the screen do not count as damage to the root; so there the
// windows' own damage is watched instead (watchDamage()).
class X11TopLevelWindows {
 public:
  struct Window {
    ::Window id = 0;
    int x = 0;  // the outer edge (border included), in root-window pixels
    int y = 0;
    int width = 0;  // border included: the size of the window's composite pixmap
    int height = 0;
    ::Visual* visual = nullptr;
    int depth = 0;
    bool isViewable = false;
    bool isExcluded = false;
    // Of a panel of ours, the parts that show anything, relative to its outer top-left
    // corner and within it: the areas it publishes, else its bounding shape's rectangles,
    // else all of it. Empty for other windows, and for a panel that shows nothing.
    std::vector<XRectangle> shownAreas;
  };

  // Starts listening to the root's children on `connection`; the owner passes every
  // event it reads to handleEvent().
  explicit X11TopLevelWindows(X11Connection& connection);
  ~X11TopLevelWindows();
  X11TopLevelWindows(const X11TopLevelWindows&) = delete;
  X11TopLevelWindows& operator=(const X11TopLevelWindows&) = delete;

  // Whether each visible top-level window reports its changes as XDamage events (which
  // the owner reads and subtracts); takes effect at the next refresh().
  void watchDamage(bool watches);

  void handleEvent(const XEvent& event);
  // Has the next refresh() read the list again (a window went away unannounced).
  void markChanged() { isDirty_ = true; }
  // Reads the list again when something changed; true when it did.
  bool refresh();
  const std::vector<Window>& windows() const { return windows_; }
  // Whether one of our panels is mapped.
  bool hasExcludedWindow() const;
  // Windows whose picture changed identity (mapped again, resized, gone) since the
  // last call; a cached composite pixmap of any of them is stale.
  std::vector<::Window> takeRenamedWindows();

  // The name of the property that marks our panels, and its value.
  static constexpr const char* kExcludedProperty = "_TOLVANE_CAPTURE_EXCLUDED";
  // Where a panel shows anything: CARDINAL x, y, width, height for each area, in the
  // marked window's own pixels; empty when it shows nothing. Without it, all of it shows.
  static constexpr const char* kExcludedAreasProperty = "_TOLVANE_CAPTURE_EXCLUDED_AREAS";

 private:
  // What is known of a mapped top-level window, learnt when it is first seen mapped.
  struct Marking {
    ::Window marked = 0;  // the window carrying the mark (the top-level or a client in its frame); 0: not ours
    bool isStale = true;  // the areas are to be read again
    std::optional<std::vector<XRectangle>> areas;  // relative to the outer top-left corner; none: all of it
  };

  // The window in `window` (itself, or up to `levels` down) that carries the mark; 0: none.
  ::Window markedWindow(::Window window, int levels);
  Marking learn(::Window window);
  // What of a panel shows, relative to its outer top-left corner; none: all of it.
  std::optional<std::vector<XRectangle>> readAreas(::Window window, const XWindowAttributes& attributes,
                                                   ::Window marked);
  void markStale(::Window window);
  void updateDamage();

  X11Connection& connection_;
  ::Atom excludedAtom_;
  ::Atom areasAtom_;
  int shapeEventBase_ = -1;  // -1: no XShape
  std::vector<Window> windows_;
  std::unordered_map<::Window, Marking> markings_;  // per mapped top-level
  std::vector<::Window> renamed_;
  std::unordered_map<::Window, ::Damage> damages_;
  bool watchesDamage_ = false;
  bool hasDamage_ = false;
  bool isDirty_ = true;
};

}  // namespace tolvane
