#include "app/shell/x11_startup_notification.h"

#include <QGuiApplication>
#include <QWindow>
#include <algorithm>
#include <cstring>

// Xlib's macros (None, Bool, Status…) clash with Qt's names; it comes last.
#include <X11/Xlib.h>

namespace tolvane::x11_startup {

namespace {

constexpr QByteArrayView kTimeMarker = "_TIME";
// Each client message carries this many bytes of the text.
constexpr int kChunkBytes = 20;
constexpr long kSourceApplication = 1;

Display* x11Display() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->display() : nullptr;
}

}  // namespace

unsigned long timestampOf(QByteArrayView startupId) {
  const qsizetype marker = startupId.lastIndexOf(kTimeMarker);
  if (marker < 0) return 0;
  const QByteArrayView digits = startupId.sliced(marker + kTimeMarker.size());
  if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return 0;
  }
  bool ok = false;
  const unsigned long time = digits.toULong(&ok);
  return ok ? time : 0;
}

QByteArray removeMessage(QByteArrayView startupId) {
  QByteArray message = "remove: ID=\"";
  for (const char c : startupId) {
    if (c == '"' || c == '\\') message += '\\';
    message += c;
  }
  return message + '"';
}

bool endFeedback(QByteArrayView startupId) {
  Display* display = x11Display();
  if (!display || startupId.isEmpty()) return false;
  // The message names a window of its own so that listeners can tell concurrent
  // messages apart; it is never mapped.
  const ::Window root = DefaultRootWindow(display);
  const ::Window sender = XCreateSimpleWindow(display, root, -100, -100, 1, 1, 0, 0, 0);
  const Atom begin = XInternAtom(display, "_NET_STARTUP_INFO_BEGIN", False);
  const Atom more = XInternAtom(display, "_NET_STARTUP_INFO", False);

  // Sent with its terminating NUL, which tells listeners where the text ends.
  const QByteArray text = removeMessage(startupId);
  const char* bytes = text.constData();
  const int length = static_cast<int>(text.size()) + 1;
  for (int offset = 0; offset < length; offset += kChunkBytes) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = sender;
    event.xclient.message_type = offset == 0 ? begin : more;
    event.xclient.format = 8;
    std::memcpy(event.xclient.data.b, bytes + offset, std::min(kChunkBytes, length - offset));
    XSendEvent(display, root, False, PropertyChangeMask, &event);
  }
  XDestroyWindow(display, sender);
  XFlush(display);
  return true;
}

bool activate(QWindow& window, QByteArrayView startupId) {
  Display* display = x11Display();
  const unsigned long time = timestampOf(startupId);
  if (!display || !window.isVisible() || time == 0) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = static_cast<::Window>(window.winId());
  event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = kSourceApplication;
  event.xclient.data.l[1] = static_cast<long>(time);
  XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(display);
  return true;
}

}  // namespace tolvane::x11_startup
