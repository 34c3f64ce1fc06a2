#include "app/capture/sources/x11_top_level_windows.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "app/capture/sources/x11_connection.h"

namespace tolvane {

namespace {

// A reparenting window manager puts the client one level down in its frame, some (with
// a decoration window in between) two.
constexpr int kFrameDepth = 2;

}  // namespace

X11TopLevelWindows::X11TopLevelWindows(X11Connection& connection)
    : connection_(connection), excludedAtom_(connection.atom(kExcludedProperty)) {
  if (connection_.isBroken()) return;
  // Other clients may listen to the root's substructure too; only redirecting it is
  // reserved for the window manager.
  XWindowAttributes attributes{};
  XGetWindowAttributes(connection_.display(), connection_.root(), &attributes);
  XSelectInput(connection_.display(), connection_.root(), attributes.your_event_mask | SubstructureNotifyMask);
  int eventBase = 0;
  int errorBase = 0;
  hasDamage_ = XDamageQueryExtension(connection_.display(), &eventBase, &errorBase) != 0;
}

X11TopLevelWindows::~X11TopLevelWindows() {
  if (connection_.isBroken()) return;
  X11ErrorTrap trap(connection_);  // windows destroyed meanwhile took their damage with them
  for (auto [window, damage] : damages_) XDamageDestroy(connection_.display(), damage);
}

void X11TopLevelWindows::watchDamage(bool watches) {
  if (watches == watchesDamage_) return;
  watchesDamage_ = watches;
  isDirty_ = true;
}

void X11TopLevelWindows::updateDamage() {
  if (!hasDamage_) return;
  X11ErrorTrap trap(connection_);
  std::unordered_set<::Window> watched;
  for (const auto& window : windows_) {
    if (!watchesDamage_ || !window.isViewable) continue;
    watched.insert(window.id);
    if (!damages_.contains(window.id)) {
      damages_.emplace(window.id, XDamageCreate(connection_.display(), window.id, XDamageReportNonEmpty));
    }
  }
  std::erase_if(damages_, [&](const auto& entry) {
    if (watched.contains(entry.first)) return false;
    XDamageDestroy(connection_.display(), entry.second);
    return true;
  });
}

void X11TopLevelWindows::handleEvent(const XEvent& event) {
  const ::Window root = connection_.root();
  switch (event.type) {
    case MapNotify:
      if (event.xmap.event != root) return;
      // A window mapped again has a new composite pixmap, and maybe a new client inside.
      excludedByID_.erase(event.xmap.window);
      renamed_.push_back(event.xmap.window);
      break;
    case ConfigureNotify:
      if (event.xconfigure.event != root) return;
      renamed_.push_back(event.xconfigure.window);
      break;
    case DestroyNotify:
      if (event.xdestroywindow.event != root) return;
      excludedByID_.erase(event.xdestroywindow.window);
      damages_.erase(event.xdestroywindow.window);  // the server freed it with the window
      renamed_.push_back(event.xdestroywindow.window);
      break;
    case UnmapNotify:
      if (event.xunmap.event != root) return;
      renamed_.push_back(event.xunmap.window);
      break;
    case CreateNotify:
    case ReparentNotify:
    case CirculateNotify:
    case GravityNotify:
      break;
    default:
      return;
  }
  isDirty_ = true;
}

bool X11TopLevelWindows::isExcluded(::Window window, int levels) {
  if (!connection_.longProperty(window, excludedAtom_, XA_CARDINAL).empty()) return true;
  if (levels == 0) return false;
  ::Window root = 0;
  ::Window parent = 0;
  ::Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(connection_.display(), window, &root, &parent, &children, &count) == 0) return false;
  std::vector<::Window> inside(children, children + count);
  if (children != nullptr) XFree(children);
  return std::any_of(inside.begin(), inside.end(), [&](::Window child) { return isExcluded(child, levels - 1); });
}

bool X11TopLevelWindows::refresh() {
  if (!isDirty_ || connection_.isBroken()) return false;
  isDirty_ = false;
  ::Display* display = connection_.display();
  X11ErrorTrap trap(connection_);
  ::Window root = 0;
  ::Window parent = 0;
  ::Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display, connection_.root(), &root, &parent, &children, &count) == 0) return false;
  std::vector<::Window> stack(children, children + count);  // bottom to top
  if (children != nullptr) XFree(children);

  std::vector<Window> windows;
  windows.reserve(stack.size());
  for (::Window id : stack) {
    XWindowAttributes attributes{};
    {
      // A window may go away between the listing and this request: it is then skipped.
      X11ErrorTrap windowTrap(connection_);
      if (XGetWindowAttributes(display, id, &attributes) == 0 || windowTrap.failed()) continue;
    }
    if (attributes.c_class == InputOnly) continue;
    Window window{id,
                  attributes.x,
                  attributes.y,
                  attributes.width + 2 * attributes.border_width,
                  attributes.height + 2 * attributes.border_width,
                  attributes.visual,
                  attributes.depth,
                  attributes.map_state == IsViewable,
                  false};
    if (window.isViewable) {
      auto known = excludedByID_.find(id);
      if (known == excludedByID_.end()) known = excludedByID_.emplace(id, isExcluded(id, kFrameDepth)).first;
      window.isExcluded = known->second;
    }
    windows.push_back(window);
  }
  // Forget windows that are gone, so that a reused id is asked again.
  std::unordered_set<::Window> present(stack.begin(), stack.end());
  std::erase_if(excludedByID_, [&](const auto& entry) { return !present.contains(entry.first); });
  windows_ = std::move(windows);
  updateDamage();
  return true;
}

bool X11TopLevelWindows::hasExcludedWindow() const {
  return std::any_of(windows_.begin(), windows_.end(), [](const Window& w) { return w.isViewable && w.isExcluded; });
}

std::vector<::Window> X11TopLevelWindows::takeRenamedWindows() { return std::exchange(renamed_, {}); }

}  // namespace tolvane
