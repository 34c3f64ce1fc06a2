#pragma once

#include <string>

namespace tolvane {

// Where the recording flow stands. `countdown` carries the seconds left (3, 2 or 1); the
// other kinds carry 0, so plain equality is the phase's equality.
struct RecordingPhase {
  enum class Kind { idle, countdown, recording, paused, finishing };

  Kind kind = Kind::idle;
  int secondsLeft = 0;

  static RecordingPhase idle() { return {}; }
  static RecordingPhase countdown(int seconds) { return {Kind::countdown, seconds}; }
  static RecordingPhase recording() { return {Kind::recording, 0}; }
  static RecordingPhase paused() { return {Kind::paused, 0}; }
  static RecordingPhase finishing() { return {Kind::finishing, 0}; }

  bool is(Kind other) const { return kind == other; }
  // A recording is under way: the engine runs, paused or not.
  bool isCapturing() const { return kind == Kind::recording || kind == Kind::paused; }

  // The case name, with the seconds for a countdown: "idle", "countdown(3)". Logs use it.
  std::string text() const;

  friend bool operator==(const RecordingPhase&, const RecordingPhase&) = default;
};

}  // namespace tolvane
