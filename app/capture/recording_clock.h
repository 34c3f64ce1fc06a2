#pragma once

#include <functional>
#include <map>
#include <optional>

namespace tolvane {

// The sources that carry their own presentation times. The camera has no clock: only
// its latest frame is kept.
enum class ClockSource { screen = 0, systemAudio = 1, microphone = 2 };

// Where one source was anchored to the recording clock, all in seconds.
struct SourceClock {
  double firstTimestamp = 0;    // presentation time of the source's first sample, its own clock
  double startedAtElapsed = 0;  // recording time when that first sample was handled
  double pausedAtStart = 0;     // pausedTotal at that moment
};

// One recording time line for every source, excluding paused time. It starts lazily, at
// the first question asked of it. Each source keeps its own cadence: its samples are
// placed by their own presentation times, anchored once to the recording clock at the
// source's first sample; pauses taken after that anchor are subtracted. Samples that
// arrive while paused, or that would land before their source's first sample, get no
// time and are dropped by the caller.
//
// Not thread-safe: the capture engine keeps it under its state lock.
class RecordingClock {
 public:
  // `hostSeconds` is the host's monotonic time in seconds (monotonicSeconds()).
  explicit RecordingClock(std::function<double()> hostSeconds);

  // Recording time now; none while paused. Starts the clock.
  std::optional<double> elapsedNow();
  // Recording time of a sample stamped `presentationTime` by `source`; none while paused
  // or when the result is negative or not a number. Starts the clock.
  std::optional<double> elapsed(double presentationTime, ClockSource source);
  // Recording time now, 0 before the start, never negative; paused or not.
  double elapsedNowUnpaused() const;

  // Both return false when there was nothing to do (already paused, not paused).
  bool pause();
  bool resume();
  bool isPaused() const { return isPaused_; }
  double hostSeconds() const { return hostSeconds_(); }

 private:
  void startIfNeeded();

  std::function<double()> hostSeconds_;
  std::optional<double> startHostTime_;
  double pausedTotal_ = 0;
  std::optional<double> pauseStartedAt_;
  bool isPaused_ = false;
  std::map<int, SourceClock> sourceClocks_;  // by ClockSource value
};

}  // namespace tolvane
