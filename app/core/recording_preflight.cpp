#include "app/core/recording_preflight.h"

#include "app/capture/recording_session_rules.h"

namespace tolvane::RecordingPreflight {

std::optional<std::string> check(const Input& input) {
  if (!input.screenRecordingGranted) return std::string(screenMessage);
  if (!input.hasTarget) return std::string(RecordingSessionRules::noTargetMessage);
  if (input.cameraSelected && input.cameraStatus != PermissionStatus::authorised) return std::string(cameraMessage);
  if (input.microphoneSelected && input.microphoneStatus != PermissionStatus::authorised) {
    return std::string(microphoneMessage);
  }
  // The free-space rule and its sentence are the ones the command line applies.
  return RecordingSessionRules::preflight({true, input.freeBytes});
}

}  // namespace tolvane::RecordingPreflight
