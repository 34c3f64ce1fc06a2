#pragma once

#include <cstdint>
#include <functional>

#include "kit/media/audio_buffer.h"
#include "kit/media/media_time.h"

struct AVAudioFifo;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace tolvane {

// What the movie's audio track is encoded with.
struct AudioSettings {
  int sampleRate = 48000;
  int channels = 2;
  std::int64_t bitRate = 128000;
};

// FFmpeg's native AAC encoder fed with AudioBuffers of any supported layout. Buffers are
// placed on the track by their presentation times: a gap is filled with silence and an
// overlap is cut, so the track stays continuous. Timestamps are in samples. Not
// thread-safe: one encoder thread uses it.
class AacEncoder {
 public:
  using PacketSink = std::function<void(AVPacket&)>;

  // Throws FFmpegError when the encoder cannot be opened.
  explicit AacEncoder(const AudioSettings& settings);
  ~AacEncoder();
  AacEncoder(const AacEncoder&) = delete;
  AacEncoder& operator=(const AacEncoder&) = delete;

  AVCodecContext* context() const { return context_; }

  // Appends `buffer`, whose time is measured from `sessionStart`.
  void encode(const AudioBuffer& buffer, MediaTime sessionStart, const PacketSink& sink);
  void flush(const PacketSink& sink);

 private:
  bool configureResampler(const AudioFormat& format);
  void pushSilence(std::int64_t samples);
  void encodeQueued(bool final, const PacketSink& sink);
  void drain(const PacketSink& sink);

  AudioSettings settings_;
  AVCodecContext* context_ = nullptr;
  SwrContext* resampler_ = nullptr;
  AudioFormat resamplerFormat_{};
  AVAudioFifo* fifo_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::int64_t nextSample_ = -1;    // track position of the next sample to queue
  std::int64_t encodedSample_ = 0;  // track position of the next sample to encode
  std::int64_t firstSample_ = 0;    // track position of the first sample
};

}  // namespace tolvane
