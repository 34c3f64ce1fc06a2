#include "app/overlays/x11_panel_support.h"

#include <QGuiApplication>
#include <QWindow>
#include <string>
#include <vector>

#include "app/ui/x11_window_state.h"

// Xlib's macros (None, Bool, Status…) clash with Qt's names; it comes last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace tolvane::x11_panel_support {

namespace {

constexpr unsigned long kAllDesktops = 0xFFFFFFFF;

Display* x11Display() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->display() : nullptr;
}

// Errors for windows that went away meanwhile are answered here instead of ending the
// process, which is Xlib's default.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

class IgnoredErrors {
 public:
  explicit IgnoredErrors(Display* display) : display_(display), previous_(XSetErrorHandler(ignoreErrors)) {}
  ~IgnoredErrors() {
    XSync(display_, False);
    XSetErrorHandler(previous_);
  }
  IgnoredErrors(const IgnoredErrors&) = delete;
  IgnoredErrors& operator=(const IgnoredErrors&) = delete;

 private:
  Display* display_;
  XErrorHandler previous_;
};

}  // namespace

bool hasCompositingManager() {
  Display* display = x11Display();
  if (!display) return false;
  const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
  const Atom selection = XInternAtom(display, name.c_str(), False);
  return XGetSelectionOwner(display, selection) != 0;
}

bool markAsPanel(QWindow& window) {
  Display* display = x11Display();
  if (!display) return false;
  x11_window_state::setStates(
      window, {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"},
      true);
  const unsigned long desktop = kAllDesktops;
  const auto id = static_cast<::Window>(window.winId());
  XChangeProperty(display, id, XInternAtom(display, "_NET_WM_DESKTOP", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&desktop), 1);
  // Display recordings leave out windows so marked: they show what lies under the panel.
  const unsigned long excluded = 1;
  XChangeProperty(display, id, XInternAtom(display, "_TOLVANE_CAPTURE_EXCLUDED", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&excluded), 1);
  XFlush(display);
  return true;
}

bool publishShownAreas(QWindow& window, const QList<QRect>& areas) {
  Display* display = x11Display();
  if (!display) return false;
  // Xlib takes 32-bit items in longs.
  std::vector<unsigned long> items;
  items.reserve(static_cast<std::size_t>(areas.size()) * 4);
  for (const QRect& area : areas) {
    for (int value : {area.x(), area.y(), area.width(), area.height()}) {
      items.push_back(static_cast<unsigned long>(value));
    }
  }
  XChangeProperty(display, static_cast<::Window>(window.winId()),
                  XInternAtom(display, "_TOLVANE_CAPTURE_EXCLUDED_AREAS", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(items.data()), static_cast<int>(items.size()));
  XFlush(display);
  return true;
}

std::optional<QRect> windowFrame(std::uint32_t windowID) {
  Display* display = x11Display();
  if (!display || windowID == 0) return std::nullopt;
  IgnoredErrors guard(display);
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display, windowID, &attributes) == 0) return std::nullopt;
  int rootX = 0;
  int rootY = 0;
  ::Window child = 0;
  if (XTranslateCoordinates(display, windowID, DefaultRootWindow(display), 0, 0, &rootX, &rootY, &child) == 0) {
    return std::nullopt;
  }
  return QRect(rootX, rootY, attributes.width, attributes.height);
}

QString atomName(std::uint32_t atom) {
  Display* display = x11Display();
  if (!display || atom == 0) return {};
  IgnoredErrors guard(display);
  char* name = XGetAtomName(display, atom);
  if (!name) return {};
  QString result = QString::fromUtf8(name);
  XFree(name);
  return result;
}

}  // namespace tolvane::x11_panel_support
