#pragma once

#include <sys/types.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct _XDisplay;  // Xlib's Display, kept out of the tests: its None and Bool macros break gtest

namespace tolvane::testing {

// Plays the client applications and the window manager on a private Xvfb server, which
// has none: it creates top-level windows with the properties a client sets (WM_CLASS,
// _NET_WM_NAME, _NET_WM_PID) and publishes them in _NET_CLIENT_LIST on the root window.
class TestDesktop {
 public:
  using WindowID = unsigned long;
  struct WindowLook {
    int x = 0, y = 0, width = 400, height = 300;
    unsigned long color = 0xFF0000;
    std::string applicationClass = "app";
    std::optional<std::string> netTitle;  // _NET_WM_NAME (UTF-8)
    std::optional<std::string> wmName;    // WM_NAME
    pid_t pid = 1;
    bool mapped = true;
  };

  // Throws std::runtime_error when the display does not answer. A server that goes away
  // under the desktop leaves it quiet rather than ending the process.
  explicit TestDesktop(const std::string& displayName);
  ~TestDesktop();  // closes every window it made
  TestDesktop(const TestDesktop&) = delete;
  TestDesktop& operator=(const TestDesktop&) = delete;

  WindowID create(const WindowLook& look);
  void fill(WindowID window, unsigned long color);
  void destroy(WindowID window);
  // Sweeps a light band across `window` sixty times a second, over a connection of its
  // own, until the desktop goes away: a screen that changes in every frame.
  void animate(WindowID window);

 private:
  void publishClientList();

  std::string displayName_;
  _XDisplay* display_;
  std::vector<WindowID> clients_;
  std::atomic<bool> animating_{false};
  std::thread animation_;
};

}  // namespace tolvane::testing
