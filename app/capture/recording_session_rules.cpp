#include "app/capture/recording_session_rules.h"

#include "kit/base/format.h"

namespace tolvane::RecordingSessionRules {

std::optional<std::string> preflight(const PreflightInput& input) {
  if (!input.hasTarget) return std::string(noTargetMessage);
  if (input.freeBytes <= minimumFreeBytes) {
    return "Only " + formatByteCount(input.freeBytes) +
           " free on this disk. Tolvane needs about 2 GB of headroom so a long recording can't run out of space "
           "midway.";
  }
  return std::nullopt;
}

bool isEmptyRecording(double durationSeconds) { return !(durationSeconds > emptyRecordingSeconds); }

std::string failureMessage(const std::string& errorDescription) {
  return errorDescription + " Everything captured up to this point is saved on your computer.";
}

}  // namespace tolvane::RecordingSessionRules
