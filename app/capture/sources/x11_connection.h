#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace tolvane {

// One connection to the X server, used by one thread at a time. Each capture source opens
// its own so that sources never share Xlib state across threads.
class X11Connection {
 public:
  // Opens `displayName`, or $DISPLAY when empty. Throws CaptureSourceError
  // (serverUnavailable) with a sentence naming the display when it cannot be opened.
  explicit X11Connection(const std::string& displayName = {});
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  ::Display* display() const { return display_; }
  ::Window root() const;
  ::Atom atom(const char* name) const;

  // A text property as UTF-8 (UTF8_STRING, STRING or COMPOUND_TEXT); none when absent.
  std::optional<std::string> textProperty(::Window window, ::Atom property) const;
  // A property of 32-bit items (CARDINAL, WINDOW, ATOM) as numbers; empty when absent.
  std::vector<unsigned long> longProperty(::Window window, ::Atom property, ::Atom type) const;
  // The same, telling an empty property from an absent one (or one of another type): none
  // when absent.
  std::optional<std::vector<unsigned long>> findLongProperty(::Window window, ::Atom property, ::Atom type) const;

  // True once the connection to the server is lost (the server quit or crashed). Nothing
  // may be sent on it after that, not even from cleanup code: Xlib can block forever
  // on a dead connection. Owners check it before each use.
  bool isBroken() const { return isBroken_.load(); }

  // Cuts the connection's incoming side, from any thread: a call blocked on a server that
  // stopped answering (stopped, hung) returns, and the connection counts as lost from
  // then on. Only reading is cut, so nothing written afterwards can raise SIGPIPE.
  void interrupt();

  // The name Xlib uses for $DISPLAY (":0" when unset), for messages.
  static std::string defaultDisplayName();

 private:
  static void markBroken(::Display* display, void* connection);

  ::Display* display_ = nullptr;
  int fd_ = -1;  // the connection's socket; read without Xlib so that interrupt() needs no lock
  std::atomic<bool> isBroken_{false};
};

// Why the desktop of this login session cannot be recorded, or none. Under Wayland the
// X server is Xwayland, which sees X clients only: grabbing its root window records
// black. A session is taken for Wayland when XDG_SESSION_TYPE says so, or when
// WAYLAND_DISPLAY is set and no X server that shows the desktop answers ($DISPLAY
// cannot be opened, or is Xwayland). An X server named explicitly (`xDisplayName` not
// empty, such as a private Xvfb) is taken as the user's choice and always recordable.
std::optional<std::string> unrecordableSessionReason(const std::string& xDisplayName = {});

// Catches X protocol errors raised by the requests made while it lives on this thread,
// instead of letting Xlib's default handler end the process (a window may vanish between
// listing it and reading its properties). Nests; thread-safe across connections. On a
// connection that is broken it sends nothing and reports failure.
class X11ErrorTrap {
 public:
  explicit X11ErrorTrap(const X11Connection& connection);
  ~X11ErrorTrap();
  X11ErrorTrap(const X11ErrorTrap&) = delete;
  X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

  // Waits for the server to answer everything sent so far, then reports whether any of
  // it failed (or the connection broke).
  bool failed();

 private:
  friend int handleX11Error(::Display*, XErrorEvent*);
  const X11Connection& connection_;
  X11ErrorTrap* previous_;
  int errorCode_ = 0;
};

}  // namespace tolvane
