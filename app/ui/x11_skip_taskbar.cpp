#include "app/ui/x11_skip_taskbar.h"

#include <QGuiApplication>
#include <QWindow>
#include <vector>

// Xlib's macros (None, Bool, Status…) clash with Qt's names; it comes last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace tolvane {

namespace {

// _NET_WM_STATE's client message actions.
constexpr long kStateRemove = 0;
constexpr long kStateAdd = 1;
// The request comes from an ordinary application, not a pager.
constexpr long kSourceApplication = 1;

Display* x11Display() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->display() : nullptr;
}

std::vector<Atom> readStates(Display* display, ::Window window, Atom netWmState) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  std::vector<Atom> states;
  if (XGetWindowProperty(display, window, netWmState, 0, 64, False, XA_ATOM, &type, &format, &count, &remaining,
                         &data) == Success &&
      type == XA_ATOM && format == 32 && data) {
    const auto* atoms = reinterpret_cast<const Atom*>(data);
    states.assign(atoms, atoms + count);
  }
  if (data) XFree(data);
  return states;
}

void writeStates(Display* display, ::Window window, Atom netWmState, const std::vector<Atom>& states) {
  XChangeProperty(display, window, netWmState, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(states.data()), static_cast<int>(states.size()));
}

}  // namespace

bool setSkipTaskbar(QWindow& window, bool skip) {
  Display* display = x11Display();
  if (!display) return false;
  const auto id = static_cast<::Window>(window.winId());
  const Atom netWmState = XInternAtom(display, "_NET_WM_STATE", False);
  const Atom skipTaskbar = XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False);

  if (window.isVisible()) {
    // While the window is mapped the window manager owns the property; it is asked.
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = id;
    event.xclient.message_type = netWmState;
    event.xclient.format = 32;
    event.xclient.data.l[0] = skip ? kStateAdd : kStateRemove;
    event.xclient.data.l[1] = static_cast<long>(skipTaskbar);
    event.xclient.data.l[2] = 0;
    event.xclient.data.l[3] = kSourceApplication;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
  } else {
    std::vector<Atom> states = readStates(display, id, netWmState);
    std::erase(states, skipTaskbar);
    if (skip) states.push_back(skipTaskbar);
    writeStates(display, id, netWmState, states);
  }
  XFlush(display);
  return true;
}

}  // namespace tolvane
