#include "app/capture/audio_drift_corrector.h"

#include <algorithm>
#include <cmath>

namespace tolvane {

void AudioDriftCorrector::addLateness(double lateness) {
  if (!baseline_) {
    baseline_ = lateness;
    smoothed_ = lateness;
    return;
  }
  // One window apart from the trend may be a burst of late buffers; two in a row in the
  // same direction are a real jump.
  if (std::abs(lateness - smoothed_) > jumpSeconds) {
    if (++jumpVotes_ < 2) return;
    smoothed_ = lateness;
  } else {
    smoothed_ += smoothing * (lateness - smoothed_);
  }
  jumpVotes_ = 0;
}

std::int64_t AudioDriftCorrector::place(std::vector<float>& samples, int channels, std::int64_t sampleFrame,
                                        double arrivalSeconds) {
  const auto frames = channels > 0 ? static_cast<std::int64_t>(samples.size()) / channels : 0;
  if (frames == 0) return sampleFrame + correction_;

  // How long after the source's own count says its first frame was captured the buffer
  // arrived, less its own length (it can only arrive once complete).
  const double lateness = arrivalSeconds - static_cast<double>(sampleFrame + frames) / sampleRate_;
  if (!windowStart_) {
    windowStart_ = arrivalSeconds;
    windowMinimum_ = lateness;
  } else if (arrivalSeconds - *windowStart_ >= windowSeconds) {
    addLateness(windowMinimum_);
    windowStart_ = arrivalSeconds;
    windowMinimum_ = lateness;
  } else {
    windowMinimum_ = std::min(windowMinimum_, lateness);
  }
  if (!baseline_) return sampleFrame + correction_;

  // Later arrivals than at the start mean a slow card: its frames belong later.
  const auto target = static_cast<std::int64_t>(std::llround((smoothed_ - *baseline_) * sampleRate_));
  const std::int64_t previous = correction_;
  if (std::abs(target - correction_) > glideLimitFrames) {
    correction_ = target;
    return sampleFrame + correction_;
  }
  if (target > correction_) {
    // One frame later: repeat the first frame, so the buffer still joins the last one.
    const std::vector<float> first(samples.begin(), samples.begin() + channels);
    samples.insert(samples.begin(), first.begin(), first.end());
    ++correction_;
  } else if (target < correction_ && frames > 1) {
    samples.erase(samples.begin(), samples.begin() + channels);
    --correction_;
  }
  // The buffer starts where the previous one ended: at its own frame plus the old
  // correction, whatever it was given or lost at its front.
  return sampleFrame + previous;
}

}  // namespace tolvane
