#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

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

 private:
  bool isExcluded(::Window window, int levels);
  void updateDamage();

  X11Connection& connection_;
  ::Atom excludedAtom_;
  std::vector<Window> windows_;
  std::unordered_map<::Window, bool> excludedByID_;  // per top-level, learnt when first seen mapped
  std::vector<::Window> renamed_;
  std::unordered_map<::Window, ::Damage> damages_;
  bool watchesDamage_ = false;
  bool hasDamage_ = false;
  bool isDirty_ = true;
};

}  // namespace tolvane
