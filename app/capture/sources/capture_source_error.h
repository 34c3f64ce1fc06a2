#pragma once

#include <stdexcept>
#include <string>

namespace tolvane {

// A capture source that cannot be listed, opened or read. what() is the complete
// sentence the user reads; `kind` tells the capture engine which of its failures this is.
class CaptureSourceError : public std::runtime_error {
 public:
  enum class Kind {
    serverUnavailable,  // the X server or the sound server cannot be reached
    targetGone,         // the display or window is no longer there
    deviceUnavailable,  // a microphone or camera is missing, busy or unreadable
    streamFailed,       // a running source stopped on its own
  };

  CaptureSourceError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

}  // namespace tolvane
