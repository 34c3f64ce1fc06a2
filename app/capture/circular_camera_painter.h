#pragma once

#include <cstddef>
#include <vector>

#include "kit/base/geometry.h"
#include "kit/media/video_frame.h"

namespace tolvane {

// Lays a camera picture over a frame as a round bubble: the centred square of the
// picture (the longer side's edges cut off equally), flipped left to right when
// mirrored, scaled bilinearly to the bubble and cut to a circle whose edge fades to
// transparent over the last 1.5 pixels. No border, no shadow.
//
// Draws straight into the target, so a bubble at a fractional position is sampled at
// that position rather than rounded to whole pixels. Column tables are kept between
// calls: painting allocates nothing once warmed up. Not thread-safe.
class CircularCameraPainter {
 public:
  // Width of the soft edge of the circle, in pixels.
  static constexpr double kEdgeWidth = 1.5;

  // `bubble` is the bubble's square in target pixels (top-left origin); its width is
  // the diameter. Parts outside the target are left out.
  void paint(const VideoFrame& camera, Rect bubble, bool isMirrored, const VideoFrame& target);

 private:
  std::vector<int> columnLeft_;      // byte offset of the left sample in a camera row
  std::vector<int> columnRight_;     // byte offset of the right sample
  std::vector<float> columnWeight_;  // weight of the right sample
};

}  // namespace tolvane
