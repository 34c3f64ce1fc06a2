#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/child_process.h"

namespace tolvane::testing {

// A private Xvfb server (no window manager) on a display number nobody else uses, started
// for one test and stopped by PID when the object goes away.
class XvfbServer {
 public:
  // Throws std::runtime_error when no server could be started.
  explicit XvfbServer(int width = 1920, int height = 1080);
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // ":N", for DISPLAY or XOpenDisplay.
  const std::string& displayName() const { return displayName_; }

  // Ends the server now (for tests of a server that goes away).
  void stop();
  // Sends `signal` to the server: SIGSTOP makes it stop answering, SIGCONT resumes it.
  void signal(int signal);

  // A display name that no server answers, for the "no display" cases.
  static std::string unusedDisplayName();

 private:
  std::unique_ptr<ChildProcess> process_;
  std::string displayName_;
};

}  // namespace tolvane::testing
