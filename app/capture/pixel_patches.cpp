#include "app/capture/pixel_patches.h"

#include <cstring>

namespace tolvane {

void PixelPatches::save(const VideoFrame& frame, std::span<const PixelRect> rects) {
  rects_.clear();
  std::size_t bytes = 0;
  for (const PixelRect& rect : rects) {
    const PixelRect clipped = rect.intersected({0, 0, frame.width(), frame.height()});
    if (clipped.isEmpty()) continue;
    rects_.push_back(clipped);
    bytes += static_cast<std::size_t>(clipped.width) * 4 * static_cast<std::size_t>(clipped.height);
  }
  pixels_.resize(bytes);
  std::uint8_t* out = pixels_.data();
  for (const PixelRect& rect : rects_) {
    const auto rowBytes = static_cast<std::size_t>(rect.width) * 4;
    for (int y = rect.y; y < rect.maxY(); ++y, out += rowBytes) std::memcpy(out, frame.pixel(rect.x, y), rowBytes);
  }
}

void PixelPatches::restore(const VideoFrame& frame) const {
  const std::uint8_t* in = pixels_.data();
  for (const PixelRect& rect : rects_) {
    const auto rowBytes = static_cast<std::size_t>(rect.width) * 4;
    for (int y = rect.y; y < rect.maxY(); ++y, in += rowBytes) std::memcpy(frame.pixel(rect.x, y), in, rowBytes);
  }
}

void PixelPatches::clear() {
  rects_.clear();
  pixels_.clear();
}

}  // namespace tolvane
