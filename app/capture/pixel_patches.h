#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "app/capture/pixel_rect.h"
#include "kit/media/video_frame.h"

namespace tolvane {

// Copies of a few rectangles of a frame, taken before something is drawn over them, so
// that the original picture can be put back later. Rectangles may overlap: each is saved
// from the untouched frame, so putting them all back restores every pixel.
//
// The buffer grows to the largest set of patches seen and is then reused. Not
// thread-safe.
class PixelPatches {
 public:
  // Replaces the saved patches with `rects` of `frame` (each clipped to the frame).
  void save(const VideoFrame& frame, std::span<const PixelRect> rects);
  // Writes the saved patches into `frame`, which must have the saved frame's size.
  void restore(const VideoFrame& frame) const;
  void clear();

 private:
  std::vector<PixelRect> rects_;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace tolvane
