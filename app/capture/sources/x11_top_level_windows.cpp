#include "app/capture/sources/x11_top_level_windows.h"

#include <X11/Xatom.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <cstdint>
#include <unordered_set>
#include <utility>

#include "app/capture/sources/x11_connection.h"

namespace tolvane {

namespace {

// A reparenting window manager puts the client one level down in its frame, some (with
// a decoration window in between) two.
constexpr int kFrameDepth = 2;

// More areas than any panel of ours publishes: such a panel is taken whole.
constexpr std::size_t kMaxAreas = 4096;

// An area cut to a window of `width` × `height`; none when nothing of it is left.
std::optional<XRectangle> clip(long x, long y, long width, long height, int windowWidth, int windowHeight) {
  const long left = std::max(x, 0L);
  const long top = std::max(y, 0L);
  const long right = std::min(x + width, static_cast<long>(windowWidth));
  const long bottom = std::min(y + height, static_cast<long>(windowHeight));
  if (right <= left || bottom <= top) return std::nullopt;
  return XRectangle{static_cast<short>(left), static_cast<short>(top), static_cast<unsigned short>(right - left),
                    static_cast<unsigned short>(bottom - top)};
}

// A CARDINAL item as a coordinate: whoever writes one below zero writes a 32-bit int.
long coordinate(unsigned long item) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(item)); }
long length(unsigned long item) { return static_cast<long>(static_cast<std::uint32_t>(item)); }

}  // namespace

X11TopLevelWindows::X11TopLevelWindows(X11Connection& connection)
    : connection_(connection),
      excludedAtom_(connection.atom(kExcludedProperty)),
      areasAtom_(connection.atom(kExcludedAreasProperty)) {
  if (connection_.isBroken()) return;
  // Other clients may listen to the root's substructure too; only redirecting it is
  // reserved for the window manager.
  XWindowAttributes attributes{};
  XGetWindowAttributes(connection_.display(), connection_.root(), &attributes);
  XSelectInput(connection_.display(), connection_.root(), attributes.your_event_mask | SubstructureNotifyMask);
  int eventBase = 0;
  int errorBase = 0;
  hasDamage_ = XDamageQueryExtension(connection_.display(), &eventBase, &errorBase) != 0;
  if (XShapeQueryExtension(connection_.display(), &shapeEventBase_, &errorBase) == 0) shapeEventBase_ = -1;
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
  if (shapeEventBase_ >= 0 && event.type == shapeEventBase_ + ShapeNotify) {
    const auto& shape = reinterpret_cast<const XShapeEvent&>(event);
    if (shape.kind != ShapeBounding || !markings_.contains(shape.window)) return;
    markStale(shape.window);
    isDirty_ = true;
    return;
  }
  switch (event.type) {
    case PropertyNotify: {
      if (event.xproperty.atom != areasAtom_) return;
      bool isPanel = false;
      for (auto& [window, marking] : markings_) {
        if (marking.marked != event.xproperty.window) continue;
        marking.isStale = true;
        isPanel = true;
      }
      if (!isPanel) return;
      break;
    }
    case MapNotify:
      if (event.xmap.event != root) return;
      // A window mapped again has a new composite pixmap, and maybe a new client inside.
      markings_.erase(event.xmap.window);
      renamed_.push_back(event.xmap.window);
      break;
    case ConfigureNotify:
      if (event.xconfigure.event != root) return;
      renamed_.push_back(event.xconfigure.window);
      // A new size cuts the areas differently, and may move a client inside its frame.
      markStale(event.xconfigure.window);
      break;
    case DestroyNotify:
      if (event.xdestroywindow.event != root) return;
      markings_.erase(event.xdestroywindow.window);
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

void X11TopLevelWindows::markStale(::Window window) {
  if (auto found = markings_.find(window); found != markings_.end()) found->second.isStale = true;
}

::Window X11TopLevelWindows::markedWindow(::Window window, int levels) {
  if (!connection_.longProperty(window, excludedAtom_, XA_CARDINAL).empty()) return window;
  if (levels == 0) return 0;
  ::Window root = 0;
  ::Window parent = 0;
  ::Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(connection_.display(), window, &root, &parent, &children, &count) == 0) return 0;
  std::vector<::Window> inside(children, children + count);
  if (children != nullptr) XFree(children);
  for (::Window child : inside) {
    if (::Window marked = markedWindow(child, levels - 1); marked != 0) return marked;
  }
  return 0;
}

X11TopLevelWindows::Marking X11TopLevelWindows::learn(::Window window) {
  Marking marking;
  marking.marked = markedWindow(window, kFrameDepth);
  if (marking.marked == 0) return marking;
  // Asked before the areas are first read, so that no change after that goes unseen.
  XSelectInput(connection_.display(), marking.marked, PropertyChangeMask);
  if (shapeEventBase_ >= 0) XShapeSelectInput(connection_.display(), window, ShapeNotifyMask);
  return marking;
}

std::optional<std::vector<XRectangle>> X11TopLevelWindows::readAreas(::Window window,
                                                                      const XWindowAttributes& attributes,
                                                                      ::Window marked) {
  ::Display* display = connection_.display();
  const int border = attributes.border_width;
  const int width = attributes.width + 2 * border;
  const int height = attributes.height + 2 * border;
  if (auto published = connection_.findLongProperty(marked, areasAtom_, XA_CARDINAL)) {
    if (published->size() / 4 > kMaxAreas) return std::nullopt;
    // The marked window's origin (inside its border), from the top-level's outer corner.
    int originX = border;
    int originY = border;
    if (marked != window) {
      int x = 0;
      int y = 0;
      ::Window child = 0;
      if (XTranslateCoordinates(display, marked, window, 0, 0, &x, &y, &child) == 0) return std::nullopt;
      originX += x;
      originY += y;
    }
    const std::vector<unsigned long>& items = *published;
    std::vector<XRectangle> areas;
    for (std::size_t i = 0; i + 4 <= items.size(); i += 4) {
      auto area = clip(originX + coordinate(items[i]), originY + coordinate(items[i + 1]), length(items[i + 2]),
                       length(items[i + 3]), width, height);
      if (area) areas.push_back(*area);
    }
    return areas;
  }
  if (shapeEventBase_ < 0) return std::nullopt;
  // An unshaped window answers with its own rectangle.
  int count = 0;
  int ordering = 0;
  XRectangle* rectangles = XShapeGetRectangles(display, window, ShapeBounding, &count, &ordering);
  if (rectangles == nullptr) return std::nullopt;
  std::vector<XRectangle> areas;
  for (int i = 0; i < count; ++i) {
    const XRectangle& r = rectangles[i];
    if (auto area = clip(border + r.x, border + r.y, r.width, r.height, width, height)) areas.push_back(*area);
  }
  XFree(rectangles);
  return areas;
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
                  false,
                  {}};
    if (window.isViewable) {
      auto known = markings_.find(id);
      if (known == markings_.end()) known = markings_.emplace(id, learn(id)).first;
      Marking& marking = known->second;
      window.isExcluded = marking.marked != 0;
      if (window.isExcluded && marking.isStale) {
        marking.areas = readAreas(id, attributes, marking.marked);
        marking.isStale = false;
      }
      if (window.isExcluded) {
        window.shownAreas = marking.areas.value_or(std::vector<XRectangle>{
            {0, 0, static_cast<unsigned short>(window.width), static_cast<unsigned short>(window.height)}});
      }
    }
    windows.push_back(std::move(window));
  }
  // Forget windows that are gone, so that a reused id is asked again.
  std::unordered_set<::Window> present(stack.begin(), stack.end());
  std::erase_if(markings_, [&](const auto& entry) { return !present.contains(entry.first); });
  windows_ = std::move(windows);
  updateDamage();
  return true;
}

bool X11TopLevelWindows::hasExcludedWindow() const {
  return std::any_of(windows_.begin(), windows_.end(), [](const Window& w) { return w.isViewable && w.isExcluded; });
}

std::vector<::Window> X11TopLevelWindows::takeRenamedWindows() { return std::exchange(renamed_, {}); }

}  // namespace tolvane
