#include "app/ui/x11_window_state.h"

#include <QGuiApplication>
#include <QWindow>
#include <algorithm>
#include <vector>

// Xlib's macros (None, Bool, Status…) clash with Qt's names; it comes last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace tolvane::x11_window_state {

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

// One message changes up to two states.
void askWindowManager(Display* display, ::Window window, Atom netWmState, Atom first, Atom second, bool on) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = netWmState;
  event.xclient.format = 32;
  event.xclient.data.l[0] = on ? kStateAdd : kStateRemove;
  event.xclient.data.l[1] = static_cast<long>(first);
  event.xclient.data.l[2] = static_cast<long>(second);
  event.xclient.data.l[3] = kSourceApplication;
  XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

}  // namespace

bool setStates(QWindow& window, std::initializer_list<const char*> states, bool on) {
  Display* display = x11Display();
  if (!display) return false;
  const auto id = static_cast<::Window>(window.winId());
  const Atom netWmState = XInternAtom(display, "_NET_WM_STATE", False);
  std::vector<Atom> atoms;
  for (const char* name : states) atoms.push_back(XInternAtom(display, name, False));

  if (window.isVisible()) {
    for (std::size_t i = 0; i < atoms.size(); i += 2) {
      askWindowManager(display, id, netWmState, atoms[i], i + 1 < atoms.size() ? atoms[i + 1] : 0, on);
    }
  } else {
    std::vector<Atom> current = readStates(display, id, netWmState);
    for (Atom atom : atoms) {
      std::erase(current, atom);
      if (on) current.push_back(atom);
    }
    XChangeProperty(display, id, netWmState, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(current.data()), static_cast<int>(current.size()));
  }
  XFlush(display);
  return true;
}

}  // namespace tolvane::x11_window_state
