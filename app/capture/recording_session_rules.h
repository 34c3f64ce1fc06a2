#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tolvane {

// The rules a recording session follows around the capture engine, shared by every
// front end that starts recordings: the checks before a start, what counts as an empty
// recording, and the sentences the user reads.
namespace RecordingSessionRules {

// Free space at or below this refuses a start (just under 2 GiB).
inline constexpr std::int64_t minimumFreeBytes = 2'147'483'647;
// A recording this short or shorter is kept but marked as needing attention.
inline constexpr double emptyRecordingSeconds = 0.2;
inline constexpr int frameRate = 30;
inline constexpr int maxLongEdge = 2560;

inline constexpr const char* noTargetMessage = "Pick a screen or window to record first.";
inline constexpr const char* emptyRecordingMessage =
    "This recording came out empty. The file is kept here in case something is salvageable.";

struct PreflightInput {
  bool hasTarget = false;
  std::int64_t freeBytes = 0;  // on the vault's volume
};

// The reason a recording may not start, in the order the checks run; none when it may.
std::optional<std::string> preflight(const PreflightInput& input);

bool isEmptyRecording(double durationSeconds);

// What the user reads when a running recording stopped on its own.
std::string failureMessage(const std::string& errorDescription);

}  // namespace RecordingSessionRules

}  // namespace tolvane
