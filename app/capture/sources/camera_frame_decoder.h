#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "kit/media/video_frame.h"

namespace tolvane {

// The picture formats cameras deliver that Tolvane reads.
enum class CameraPixelFormat {
  yuyv,   // packed 4:2:2, Y0 U Y1 V
  mjpeg,  // one JPEG picture per frame
};

// Turns a camera's pictures into BGRA: YUYV with libyuv, JPEGs with FFmpeg's MJPEG
// decoder (every chroma sampling cameras use: 4:2:0, 4:2:2, 4:4:4, grey; libyuv's own
// JPEG path reads only some of them and takes full-range colour for studio range),
// then libyuv for the colour conversion. One decoder per camera stream; not thread-safe.
class CameraFrameDecoder {
 public:
  // `bytesPerLine` is the row pitch of YUYV pictures (ignored for MJPEG).
  CameraFrameDecoder(CameraPixelFormat format, int width, int height, int bytesPerLine);
  ~CameraFrameDecoder();
  CameraFrameDecoder(const CameraFrameDecoder&) = delete;
  CameraFrameDecoder& operator=(const CameraFrameDecoder&) = delete;

  // Converts one picture into `destination` (the camera's size). False when the data is
  // short, of another size, or not a decodable picture.
  bool decode(const std::uint8_t* data, std::size_t size, const VideoFrame& destination);

 private:
  struct FFmpegDecoder;
  bool decodeWithFFmpeg(const std::uint8_t* data, std::size_t size, const VideoFrame& destination);

  CameraPixelFormat format_;
  int width_;
  int height_;
  int bytesPerLine_;
  std::unique_ptr<FFmpegDecoder> ffmpeg_;
};

}  // namespace tolvane
