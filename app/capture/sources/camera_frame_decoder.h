#pragma once

#include <cstddef>
#include <cstdint>

#include "kit/media/video_frame.h"

namespace tolvane {

// The picture formats cameras deliver that Tolvane reads.
enum class CameraPixelFormat {
  yuyv,   // packed 4:2:2, Y0 U Y1 V
  mjpeg,  // one JPEG picture per frame
};

// Converts one camera picture into `destination` (BGRA, the camera's size). False when
// the data is short or not a decodable picture; the frame is then left as it was.
bool decodeCameraFrame(CameraPixelFormat format, const std::uint8_t* data, std::size_t size, int width, int height,
                       int bytesPerLine, const VideoFrame& destination);

}  // namespace tolvane
