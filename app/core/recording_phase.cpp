#include "app/core/recording_phase.h"

namespace tolvane {

std::string RecordingPhase::text() const {
  switch (kind) {
    case Kind::idle: return "idle";
    case Kind::countdown: return "countdown(" + std::to_string(secondsLeft) + ")";
    case Kind::recording: return "recording";
    case Kind::paused: return "paused";
    case Kind::finishing: return "finishing";
  }
  return "idle";
}

}  // namespace tolvane
