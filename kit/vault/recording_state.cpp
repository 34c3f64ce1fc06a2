#include "kit/vault/recording_state.h"

namespace tolvane {

std::string_view rawValue(RecordingState state) {
  switch (state) {
    case RecordingState::recording: return "recording";
    case RecordingState::finalizing: return "finalizing";
    case RecordingState::ready: return "ready";
    case RecordingState::uploading: return "uploading";
    case RecordingState::uploaded: return "uploaded";
    case RecordingState::verified: return "verified";
    case RecordingState::needsAttention: return "needsAttention";
  }
  return "needsAttention";
}

std::optional<RecordingState> recordingStateFromRawValue(std::string_view raw) {
  for (RecordingState state : allRecordingStates) {
    if (rawValue(state) == raw) return state;
  }
  return std::nullopt;
}

bool isUploadPending(RecordingState state) {
  return state == RecordingState::ready || state == RecordingState::uploading ||
         state == RecordingState::needsAttention;
}

bool wasInterrupted(RecordingState state) {
  return state == RecordingState::recording || state == RecordingState::finalizing;
}

}  // namespace tolvane
