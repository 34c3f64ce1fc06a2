#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "kit/media/video_frame.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace tolvane {

// What the movie's video track is encoded with.
struct VideoSettings {
  int width = 0;   // even
  int height = 0;  // even
  int frameRate = 30;
  std::int64_t bitRate = 3'000'000;  // average, bits per second
  int maxKeyFrameInterval = 60;      // frames
  // x264 speed/quality trade-off; see kRealTimePreset in the source for why.
  std::string preset;
  std::string tune;
};

// libx264 (H.264 High, no B-frames) fed with BGRA frames converted to I420 by libyuv.
// Timestamps are in `timeBase` (1/90000 s). Not thread-safe: one encoder thread uses it.
class H264Encoder {
 public:
  static constexpr int timeBase = 90000;
  // The preset and tune used when VideoSettings leaves them empty.
  static const char* const defaultPreset;
  static const char* const defaultTune;

  using PacketSink = std::function<void(AVPacket&)>;

  // Throws FFmpegError when libx264 refuses the settings.
  explicit H264Encoder(const VideoSettings& settings);
  ~H264Encoder();
  H264Encoder(const H264Encoder&) = delete;
  H264Encoder& operator=(const H264Encoder&) = delete;

  AVCodecContext* context() const { return context_; }

  // Encodes one frame at `pts` (strictly increasing). A frame of another size is cropped
  // or padded with black at the bottom/right. Packets that come out go to `sink`.
  void encode(const VideoFrame& frame, std::int64_t pts, const PacketSink& sink);
  // Drains the frames still inside the encoder.
  void flush(const PacketSink& sink);

 private:
  void convert(const VideoFrame& frame);
  void drain(const PacketSink& sink);

  VideoSettings settings_;
  AVCodecContext* context_ = nullptr;
  AVFrame* picture_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::int64_t lastKeyFramePts_ = -1;
  std::int64_t frameDuration_ = 0;
};

}  // namespace tolvane
