#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/core/permission_status.h"

namespace tolvane {

// The checks made before a countdown may begin. They run in a fixed order and the first
// failure is the one the user reads: a missing screen permission is reported even when
// no target is chosen, because choosing one would not help.
namespace RecordingPreflight {

inline constexpr const char* screenMessage =
    "Tolvane needs permission to record your screen. Tolvane records through X11: on a Wayland desktop, sign out "
    "and choose an X11 session (such as \u201cGNOME on Xorg\u201d) at the login screen, then start Tolvane again.";
inline constexpr const char* cameraMessage =
    "Camera access is turned off for Tolvane, so the bubble can't record. Make sure your account may use the camera "
    "(the video group), or switch the camera off here.";
inline constexpr const char* microphoneMessage =
    "Microphone access is turned off for Tolvane. Make sure the sound server (PulseAudio or PipeWire) is running and "
    "lets Tolvane record, or switch the mic off here.";

struct Input {
  bool screenRecordingGranted = false;
  bool hasTarget = false;
  bool cameraSelected = false;
  PermissionStatus cameraStatus = PermissionStatus::notDetermined;
  bool microphoneSelected = false;
  PermissionStatus microphoneStatus = PermissionStatus::notDetermined;
  std::int64_t freeBytes = 0;  // on the vault's volume
};

// The reason the recording may not start; none when it may.
std::optional<std::string> check(const Input& input);

}  // namespace RecordingPreflight

}  // namespace tolvane
