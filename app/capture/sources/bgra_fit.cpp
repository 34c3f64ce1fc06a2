#include "app/capture/sources/bgra_fit.h"

#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tolvane {

namespace {

void makeOpaque(const VideoFrame& frame, int x, int y, int width, int height) {
  for (int row = y; row < y + height; ++row) {
    auto* pixel = reinterpret_cast<std::uint32_t*>(frame.pixel(x, row));
    for (int i = 0; i < width; ++i) pixel[i] |= 0xFF000000u;
  }
}

}  // namespace

void fitBGRA(const std::uint8_t* source, int sourceStride, int sourceWidth, int sourceHeight,
             const VideoFrame& destination) {
  const int outWidth = destination.width();
  const int outHeight = destination.height();
  if (sourceWidth <= 0 || sourceHeight <= 0) {
    destination.fill(0, 0, 0, 255);
    return;
  }
  if (sourceWidth == outWidth && sourceHeight == outHeight) {
    // One pass: copy and set the alpha byte together.
    for (int y = 0; y < outHeight; ++y) {
      const auto* in = reinterpret_cast<const std::uint32_t*>(source + static_cast<std::ptrdiff_t>(y) * sourceStride);
      auto* out = reinterpret_cast<std::uint32_t*>(destination.row(y));
      for (int x = 0; x < outWidth; ++x) out[x] = in[x] | 0xFF000000u;
    }
    return;
  }
  double scale = std::min(static_cast<double>(outWidth) / sourceWidth, static_cast<double>(outHeight) / sourceHeight);
  int width = std::clamp(static_cast<int>(std::lround(sourceWidth * scale)), 1, outWidth);
  int height = std::clamp(static_cast<int>(std::lround(sourceHeight * scale)), 1, outHeight);
  int left = (outWidth - width) / 2;
  int top = (outHeight - height) / 2;
  if (width != outWidth || height != outHeight) destination.fill(0, 0, 0, 255);
  libyuv::ARGBScale(source, sourceStride, sourceWidth, sourceHeight, destination.pixel(left, top),
                    destination.stride(), width, height, libyuv::kFilterBilinear);
  makeOpaque(destination, left, top, width, height);
}

}  // namespace tolvane
