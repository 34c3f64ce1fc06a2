#pragma once

#include <stdexcept>
#include <string>

namespace tolvane {

// Why a recording could not start or stopped on its own. what() is the complete
// sentence the user reads ("That window has closed.", "Tolvane couldn't find that
// camera.", or the description of the platform's own failure).
class CaptureError : public std::runtime_error {
 public:
  enum class Kind {
    targetGone,         // the display or window is no longer there
    deviceUnavailable,  // a microphone or camera is missing, busy or unreadable
    streamStopped,      // the screen stream stopped on its own
    noPermission,       // raised by callers that check permissions; never by the engine
  };

  static CaptureError targetGone(const std::string& message) { return {Kind::targetGone, message}; }
  static CaptureError deviceUnavailable(const std::string& message) { return {Kind::deviceUnavailable, message}; }
  static CaptureError streamStopped(const std::string& message) { return {Kind::streamStopped, message}; }
  static CaptureError noPermission(const std::string& message) { return {Kind::noPermission, message}; }

  Kind kind() const { return kind_; }

 private:
  CaptureError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind_;
};

}  // namespace tolvane
