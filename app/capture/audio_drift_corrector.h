#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tolvane {

// Keeps one audio source on the recording clock for hours. A source stamps its buffers
// by counting frames, and a sound card's crystal runs a few hundred ppm off the host
// clock: left alone its sound slides a third of a second an hour against the video, and
// a slow card's sound ends up behind the mixer's drain point and is dropped as late.
//
// Each buffer's arrival on the host clock says where the card really is, but arrivals
// jitter (scheduling, the sound server's batching), always towards later. So the lowest
// lateness of each second is taken, those minima are smoothed, and the buffers are moved
// towards where they say, one frame per buffer at most (the first frame repeated, or
// dropped), so that the track stays gap-free and the correction is inaudible. A jump
// too large to glide over (the server lost data, the stream moved to another device) is
// taken at once.
//
// Not thread-safe: one per source, used on the engine's audio queue.
class AudioDriftCorrector {
 public:
  explicit AudioDriftCorrector(double sampleRate) : sampleRate_(sampleRate) {}

  // Takes the interleaved `samples` of one buffer whose first frame the source's own
  // count places at mixer frame `sampleFrame`, and which arrived at recording time
  // `arrivalSeconds`. May repeat or drop the buffer's first frame; returns the mixer
  // frame at which the (adjusted) samples belong.
  std::int64_t place(std::vector<float>& samples, int channels, std::int64_t sampleFrame, double arrivalSeconds);

  // Frames currently added to the source's own count (negative: removed).
  std::int64_t correctionFrames() const { return correction_; }

  static constexpr double windowSeconds = 1.0;    // one minimum of lateness per window
  static constexpr double smoothing = 0.1;        // weight of each new minimum
  static constexpr double jumpSeconds = 0.03;     // a change this large is a jump, not drift
  static constexpr std::int64_t glideLimitFrames = 480;  // beyond this the correction jumps

 private:
  void addLateness(double lateness);

  double sampleRate_;
  std::int64_t correction_ = 0;
  std::optional<double> baseline_;   // the first window's lateness: the source's own latency
  double smoothed_ = 0;
  std::optional<double> windowStart_;
  double windowMinimum_ = 0;
  int jumpVotes_ = 0;                // consecutive windows that disagreed by a jump
};

}  // namespace tolvane
