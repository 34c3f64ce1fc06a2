#include "app/overlays/x11_panel_support.h"

#include <QGuiApplication>
#include <QWindow>
#include <algorithm>
#include <string>
#include <vector>

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

std::vector<Atom> readAtoms(Display* display, ::Window window, Atom property) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  std::vector<Atom> atoms;
  if (XGetWindowProperty(display, window, property, 0, 64, False, XA_ATOM, &type, &format, &count, &remaining,
                         &data) == Success &&
      type == XA_ATOM && format == 32 && data) {
    const auto* values = reinterpret_cast<const Atom*>(data);
    atoms.assign(values, values + count);
  }
  if (data) XFree(data);
  return atoms;
}

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
  const auto id = static_cast<::Window>(window.winId());
  const Atom netWmState = XInternAtom(display, "_NET_WM_STATE", False);
  std::vector<Atom> states = readAtoms(display, id, netWmState);
  for (const char* name : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR",
                           "_NET_WM_STATE_SKIP_PAGER"}) {
    const Atom state = XInternAtom(display, name, False);
    if (std::find(states.begin(), states.end(), state) == states.end()) states.push_back(state);
  }
  XChangeProperty(display, id, netWmState, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(states.data()), static_cast<int>(states.size()));
  const unsigned long desktop = kAllDesktops;
  XChangeProperty(display, id, XInternAtom(display, "_NET_WM_DESKTOP", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&desktop), 1);
  // Display recordings leave out windows so marked: they show what lies under the panel.
  const unsigned long excluded = 1;
  XChangeProperty(display, id, XInternAtom(display, "_TOLVANE_CAPTURE_EXCLUDED", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&excluded), 1);
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
