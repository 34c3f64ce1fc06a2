#include "app/capture/sources/x11_connection.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <sys/socket.h>

#include <cstdlib>
#include <mutex>
#include <string_view>

#include "app/capture/sources/capture_source_error.h"
#include "kit/base/log.h"

namespace tolvane {

namespace {

// The innermost trap of the calling thread; Xlib runs the error handler on the thread
// whose request failed, so a thread-local chain routes each error to its own trap.
thread_local X11ErrorTrap* currentTrap = nullptr;

}  // namespace

int handleX11Error(::Display* display, XErrorEvent* event) {
  for (X11ErrorTrap* trap = currentTrap; trap != nullptr; trap = trap->previous_) {
    if (trap->connection_.display() == display) {
      if (trap->errorCode_ == 0) trap->errorCode_ = event->error_code;
      return 0;
    }
  }
  // Errors outside a trap are stale requests on a window that went away: logged, never
  // fatal, because ending a recording process over a vanished window would lose the file.
  char text[256] = {};
  XGetErrorText(display, event->error_code, text, sizeof text);
  Logger("capture").warning("X request {} failed: {}", static_cast<int>(event->request_code), text);
  return 0;
}

namespace {

int handleX11IOError(::Display*) {
  Logger("capture").error("lost the connection to the X server");
  return 0;
}

// Process-wide Xlib handlers, installed once: errors are trapped or logged, and a lost
// server is reported per connection (see markBroken) instead of ending the process.
void installErrorHandlerOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    XSetErrorHandler(handleX11Error);
    XSetIOErrorHandler(handleX11IOError);
  });
}

}  // namespace

std::optional<std::string> unrecordableSessionReason(const std::string& xDisplayName) {
  static const std::string kWayland =
      "This is a Wayland session, and Tolvane can only record an X11 desktop (here it would record a black screen). "
      "Log out, pick the \"Xorg\" or \"X11\" session on the login screen, and log in again.";
  if (!xDisplayName.empty()) return std::nullopt;
  const char* sessionType = std::getenv("XDG_SESSION_TYPE");
  if (sessionType != nullptr && std::string_view(sessionType) == "wayland") return kWayland;
  const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
  if (waylandDisplay == nullptr || *waylandDisplay == '\0') return std::nullopt;
  ::Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return kWayland;
  int opcode = 0, event = 0, error = 0;
  const bool isXwayland = XQueryExtension(display, "XWAYLAND", &opcode, &event, &error);
  XCloseDisplay(display);
  if (isXwayland) return kWayland;
  return std::nullopt;
}

X11ErrorTrap::X11ErrorTrap(const X11Connection& connection) : connection_(connection), previous_(currentTrap) {
  installErrorHandlerOnce();
  if (!connection_.isBroken()) XSync(connection_.display(), False);  // earlier errors belong to nobody here
  errorCode_ = 0;
  currentTrap = this;
}

X11ErrorTrap::~X11ErrorTrap() {
  if (!connection_.isBroken()) XSync(connection_.display(), False);
  currentTrap = previous_;
}

bool X11ErrorTrap::failed() {
  if (connection_.isBroken()) return true;
  XSync(connection_.display(), False);
  return errorCode_ != 0 || connection_.isBroken();
}

X11Connection::X11Connection(const std::string& displayName) {
  installErrorHandlerOnce();
  display_ = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
  if (display_ == nullptr) {
    std::string name = displayName.empty() ? defaultDisplayName() : displayName;
    throw CaptureSourceError(CaptureSourceError::Kind::serverUnavailable,
                             "Tolvane couldn't open the X display \"" + name + "\"; is an X session running?");
  }
  fd_ = ConnectionNumber(display_);
  // Xlib's default would exit the process, losing the recording in progress; returning
  // from this handler leaves the connection dead but the process alive.
  XSetIOErrorExitHandler(display_, markBroken, this);
}

void X11Connection::markBroken(::Display*, void* connection) {
  static_cast<X11Connection*>(connection)->isBroken_ = true;
}

void X11Connection::interrupt() {
  // Xlib then reads end-of-file, gives up on the call and reports the connection lost.
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RD);
}

X11Connection::~X11Connection() {
  // A dead connection is left as it is: closing it would wait on the server forever.
  if (display_ != nullptr && !isBroken()) XCloseDisplay(display_);
}

::Window X11Connection::root() const { return DefaultRootWindow(display_); }

::Atom X11Connection::atom(const char* name) const { return XInternAtom(display_, name, False); }

std::string X11Connection::defaultDisplayName() {
  const char* name = std::getenv("DISPLAY");
  return name != nullptr && *name != '\0' ? name : ":0";
}

std::optional<std::string> X11Connection::textProperty(::Window window, ::Atom property) const {
  if (isBroken()) return std::nullopt;
  X11ErrorTrap trap(*this);
  XTextProperty text{};
  if (XGetTextProperty(display_, window, &text, property) == 0 || text.value == nullptr) return std::nullopt;
  std::optional<std::string> result;
  // Converts STRING (Latin-1), UTF8_STRING and COMPOUND_TEXT alike.
  char** list = nullptr;
  int count = 0;
  if (Xutf8TextPropertyToTextList(display_, &text, &list, &count) >= Success && list != nullptr) {
    if (count > 0) result = std::string(list[0]);
    XFreeStringList(list);
  } else {
    result = std::string(reinterpret_cast<const char*>(text.value), text.nitems);
  }
  XFree(text.value);
  if (trap.failed()) return std::nullopt;
  return result;
}

std::vector<unsigned long> X11Connection::longProperty(::Window window, ::Atom property, ::Atom type) const {
  return findLongProperty(window, property, type).value_or(std::vector<unsigned long>{});
}

std::optional<std::vector<unsigned long>> X11Connection::findLongProperty(::Window window, ::Atom property,
                                                                          ::Atom type) const {
  if (isBroken()) return std::nullopt;
  X11ErrorTrap trap(*this);
  ::Atom actualType = None;
  int actualFormat = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  int status = XGetWindowProperty(display_, window, property, 0, 1L << 20, False, type, &actualType, &actualFormat,
                                  &count, &remaining, &data);
  std::optional<std::vector<unsigned long>> values;
  if (status == Success && actualType == type && actualFormat == 32) {
    // Xlib hands 32-bit items back as longs, whatever the width of long.
    auto* items = reinterpret_cast<unsigned long*>(data);
    values.emplace(items, items + count);
  }
  if (data != nullptr) XFree(data);
  if (trap.failed()) return std::nullopt;
  return values;
}

}  // namespace tolvane
