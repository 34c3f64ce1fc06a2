#include "app/capture/recording_clock.h"

#include <algorithm>
#include <cmath>

namespace tolvane {

RecordingClock::RecordingClock(std::function<double()> hostSeconds) : hostSeconds_(std::move(hostSeconds)) {}

void RecordingClock::startIfNeeded() {
  if (!startHostTime_) startHostTime_ = hostSeconds_();
}

double RecordingClock::elapsedNowUnpaused() const {
  if (!startHostTime_) return 0;
  return std::max(0.0, hostSeconds_() - *startHostTime_ - pausedTotal_);
}

std::optional<double> RecordingClock::elapsedNow() {
  startIfNeeded();
  if (isPaused_) return std::nullopt;
  return elapsedNowUnpaused();
}

std::optional<double> RecordingClock::elapsed(double presentationTime, ClockSource source) {
  startIfNeeded();
  if (isPaused_) return std::nullopt;
  auto [entry, isNew] = sourceClocks_.try_emplace(static_cast<int>(source));
  if (isNew) entry->second = SourceClock{presentationTime, elapsedNowUnpaused(), pausedTotal_};
  const SourceClock& clock = entry->second;
  double result = (presentationTime - clock.firstTimestamp) + clock.startedAtElapsed -
                  (pausedTotal_ - clock.pausedAtStart);
  // Written so that NaN is dropped too.
  if (!(result >= 0)) return std::nullopt;
  return result;
}

bool RecordingClock::pause() {
  if (isPaused_) return false;
  isPaused_ = true;
  pauseStartedAt_ = hostSeconds_();
  return true;
}

bool RecordingClock::resume() {
  if (!isPaused_) return false;
  if (pauseStartedAt_) pausedTotal_ += hostSeconds_() - *pauseStartedAt_;
  pauseStartedAt_.reset();
  isPaused_ = false;
  return true;
}

}  // namespace tolvane
