#include "app/overlays/x11_panel_stacking.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <xcb/xcb.h>

// Xlib's macros (None, Bool, Status…) clash with Qt's names; it comes last.
#include <X11/Xlib.h>

namespace tolvane {

namespace {

Display* x11Display() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->display() : nullptr;
}

// Every keeper shares this process's one event mask on the root window; the first one
// asks for the desktop's structure events and the last one gives them back.
int listeners = 0;
long rootMaskBefore = 0;

int ignoreErrors(Display*, XErrorEvent*) { return 0; }

// Our own windows that may lie above the panels: tool tips and pop-ups, which show
// briefly over the panel they belong to.
bool isOwnTransient(::Window id) {
  for (QWindow* window : QGuiApplication::topLevelWindows()) {
    const Qt::WindowType type = window->type();
    if ((type == Qt::ToolTip || type == Qt::Popup) && window->handle() && window->winId() == id) return true;
  }
  return false;
}

}  // namespace

X11PanelStacking::X11PanelStacking(Panels panels, QObject* parent) : QObject(parent), panels_(std::move(panels)) {
  Display* display = x11Display();
  if (!display) return;
  listening_ = true;
  if (listeners++ == 0) {
    XWindowAttributes root{};
    XGetWindowAttributes(display, DefaultRootWindow(display), &root);
    rootMaskBefore = root.your_event_mask;
    XSelectInput(display, DefaultRootWindow(display), rootMaskBefore | SubstructureNotifyMask);
    XFlush(display);
  }
  QCoreApplication::instance()->installNativeEventFilter(this);
}

X11PanelStacking::~X11PanelStacking() {
  if (!listening_) return;
  QCoreApplication::instance()->removeNativeEventFilter(this);
  Display* display = x11Display();
  if (--listeners == 0 && display) {
    XSelectInput(display, DefaultRootWindow(display), rootMaskBefore);
    XFlush(display);
  }
}

bool X11PanelStacking::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  xcb_window_t window = XCB_NONE;
  switch (event->response_type & 0x7f) {
    case XCB_MAP_NOTIFY:
      window = static_cast<const xcb_map_notify_event_t*>(message)->window;
      break;
    case XCB_CONFIGURE_NOTIFY:
      window = static_cast<const xcb_configure_notify_event_t*>(message)->window;
      break;
    case XCB_CIRCULATE_NOTIFY:
      window = static_cast<const xcb_circulate_notify_event_t*>(message)->window;
      break;
    default:
      return false;
  }
  // Our own moves and raises come back here too. Answering them would let a window that
  // stays above whatever we do (another keeper like this one) keep us raising forever.
  if (isPanel(window) || isOwnTransient(window)) return false;
  scheduleRestack();
  return false;
}

bool X11PanelStacking::isPanel(std::uint32_t id) const {
  for (QWindow* panel : panels_()) {
    if (panel && panel->handle() && panel->winId() == id) return true;
  }
  return false;
}

void X11PanelStacking::scheduleRestack() {
  if (scheduled_) return;
  scheduled_ = true;
  // A burst of events (a window manager moving its frames) ends in one check.
  QTimer::singleShot(0, this, [this] {
    scheduled_ = false;
    restack();
  });
}

bool X11PanelStacking::restack() {
  Display* display = x11Display();
  if (!display) return false;
  std::vector<::Window> wanted;  // lowest first
  for (QWindow* panel : panels_()) {
    if (panel && panel->isVisible() && panel->handle()) wanted.push_back(static_cast<::Window>(panel->winId()));
  }
  if (wanted.empty()) return false;

  // Windows may go away while we look; those errors mean nothing here.
  XSync(display, False);
  XErrorHandler previous = XSetErrorHandler(ignoreErrors);
  ::Window root = 0;
  ::Window parent = 0;
  ::Window* children = nullptr;
  unsigned int count = 0;
  bool inOrder = false;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) != 0) {
    // From the top down, the mapped windows must be the panels, highest first.
    auto next = wanted.rbegin();
    inOrder = true;
    for (unsigned int i = count; i-- > 0 && next != wanted.rend();) {
      const ::Window child = children[i];
      if (child == *next) {
        ++next;
        continue;
      }
      if (isOwnTransient(child)) continue;
      XWindowAttributes attributes{};
      if (XGetWindowAttributes(display, child, &attributes) == 0 || attributes.map_state != IsViewable) continue;
      inOrder = false;
      break;
    }
  }
  if (children) XFree(children);
  if (!inOrder) {
    for (::Window id : wanted) XRaiseWindow(display, id);
    // Tips showing now stay over their panels.
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
      if (window->isVisible() && window->handle() && isOwnTransient(static_cast<::Window>(window->winId()))) {
        XRaiseWindow(display, static_cast<::Window>(window->winId()));
      }
    }
  }
  XSync(display, False);
  XSetErrorHandler(previous);
  return !inOrder;
}

}  // namespace tolvane
