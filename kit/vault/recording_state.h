#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace tolvane {

// Where a recording stands in its life; stored in the manifest as its raw string
// ("recording", "finalizing", ..., "needsAttention"). Declaration order is the order of
// allRecordingStates.
enum class RecordingState {
  recording,       // capture is writing the file now
  finalizing,      // capture was stopped abruptly; the file was not closed normally
  ready,           // the file is complete and waits to upload
  uploading,       // an upload has started; some bytes may be on the server
  uploaded,        // all bytes are on the server; not yet confirmed
  verified,        // the service confirmed the video; final
  needsAttention,  // something failed that needs the user or a long wait
};

inline constexpr std::array<RecordingState, 7> allRecordingStates = {
    RecordingState::recording, RecordingState::finalizing, RecordingState::ready,         RecordingState::uploading,
    RecordingState::uploaded,  RecordingState::verified,   RecordingState::needsAttention};

// The raw string stored in JSON.
std::string_view rawValue(RecordingState state);
// The state for a raw string; none for anything else (case matters).
std::optional<RecordingState> recordingStateFromRawValue(std::string_view raw);

// `ready`, `uploading` and `needsAttention`: the upload queue still has work to do.
bool isUploadPending(RecordingState state);
// `recording` and `finalizing`: the states a recording is left in when the process ends
// before its file is finished.
bool wasInterrupted(RecordingState state);

}  // namespace tolvane
