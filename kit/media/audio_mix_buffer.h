#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace tolvane {

// Mixes the recording's audio sources into one track. A ring of interleaved float
// samples addressed by absolute frame number on the recording's timeline: each source
// adds its samples at the frames of their recording time, and the owner drains finished
// stretches, clipped to [-1, 1], a fixed latency behind real time.
//
// Thread-safe: `mix`, the drains and `drainAll` take the buffer's lock; the constants and
// `frameIndex` need none.
class AudioMixBuffer {
 public:
  struct Drained {
    std::int64_t startFrame = 0;
    std::vector<float> samples;  // interleaved, frames × channels
  };

  // `capacitySeconds` of frames are held; the ring is allocated once, zeroed.
  AudioMixBuffer(double sampleRate, int channels, double latency, double capacitySeconds);

  double sampleRate() const { return sampleRate_; }
  int channels() const { return channels_; }
  double latency() const { return latency_; }  // seconds

  // The frame of a recording time: seconds × rate, rounded half away from zero.
  std::int64_t frameIndex(double seconds) const;

  // Adds interleaved `samples` (a whole number of frames) starting at frame `firstFrame`.
  // Frames already drained are counted in lateFrames() and dropped; frames beyond the
  // capacity ahead of the drain point are dropped uncounted. The first call ever sets
  // the start of the timeline.
  void mix(const std::vector<float>& samples, std::int64_t firstFrame);
  void mix(const float* samples, std::size_t count, std::int64_t firstFrame);

  // Everything from the last drain point up to (not including) `frame`, clipped; the
  // slots are cleared for reuse. Nothing before the first mix or when nothing is due.
  std::optional<Drained> drain(std::int64_t upToFrame);
  // Drains up to the frame of (`seconds` − latency).
  std::optional<Drained> drain(double upToTime);
  // Drains up to the highest frame any source has written.
  std::optional<Drained> drainAll();

  std::int64_t lateFrames() const;

 private:
  std::size_t slot(std::int64_t frame) const;

  const double sampleRate_;
  const int channels_;
  const double latency_;
  const std::int64_t capacityFrames_;

  mutable std::mutex lock_;
  std::vector<float> storage_;
  std::int64_t baseFrame_ = 0;
  std::int64_t highestFrameWritten_ = 0;
  bool started_ = false;
  std::int64_t lateFrames_ = 0;
};

}  // namespace tolvane
