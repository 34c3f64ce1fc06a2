#include "app/capture/sources/camera_frame_decoder.h"

#include <libyuv/convert_argb.h>

namespace tolvane {

bool decodeCameraFrame(CameraPixelFormat format, const std::uint8_t* data, std::size_t size, int width, int height,
                       int bytesPerLine, const VideoFrame& destination) {
  if (data == nullptr || width <= 0 || height <= 0 || destination.width() != width ||
      destination.height() != height) {
    return false;
  }
  if (format == CameraPixelFormat::yuyv) {
    if (bytesPerLine < width * 2 || size < static_cast<std::size_t>(bytesPerLine) * static_cast<std::size_t>(height)) {
      return false;
    }
    return libyuv::YUY2ToARGB(data, bytesPerLine, destination.data(), destination.stride(), width, height) == 0;
  }
  // A frame cut short by the driver fails here instead of showing a torn picture.
  return libyuv::MJPGToARGB(data, size, destination.data(), destination.stride(), width, height, width, height) == 0;
}

}  // namespace tolvane
