#pragma once

#include <cstdint>
#include <vector>

#include "app/capture/pixel_rect.h"
#include "kit/media/video_frame.h"

namespace tolvane {

// Gaussian blur of one rectangle of a frame, computed only around that rectangle.
//
// A Gaussian of the radii used here (tens of pixels) is so smooth that it can be taken at
// a lower resolution without visible difference: the region is averaged down by a whole
// factor k (k x k boxes on a lattice fixed to the frame), blurred there with three box
// passes whose widths approximate the Gaussian, and scaled back up bilinearly into the
// rectangle. The variance the down- and up-sampling add is taken off the box passes, so
// the whole matches a true Gaussian of the requested standard deviation closely. Pixels
// beyond the frame's edges repeat the edge, so the blur does not fade at the borders.
//
// Because the lattice is fixed to the frame and the box passes run on integers,
// overlapping rectangles get identical values where they overlap: each is cut from the
// same blurred image.
//
// Scratch buffers grow to the largest region seen and are then reused: blurring
// allocates nothing once warmed up. Not thread-safe; one per compositor.
class RegionBlur {
 public:
  // Writes the blur (standard deviation `sigma` pixels) of `source` inside `rect` into
  // the same place of `target`, which must be the size of `source`. The rectangle is
  // clipped to the frame. `target` may be `source` itself: everything the blur reads
  // (readArea) is read before anything is written.
  void blur(const VideoFrame& source, PixelRect rect, double sigma, const VideoFrame& target);

  // The pixels a blur of `rect` reads, before clipping to the frame: the rectangle and
  // as far around it as the blur reaches.
  static PixelRect readArea(PixelRect rect, double sigma);

  // Widths (odd) of three successive box filters whose combination approximates a
  // Gaussian of standard deviation `sigma`.
  static void boxWidthsForGaussian(double sigma, int widths[3]);
  // The reduction factor used for a blur of standard deviation `sigma`.
  static int reductionFor(double sigma);

 private:
  struct Plan;
  static Plan plan(PixelRect rect, double sigma);
  void downsample(const VideoFrame& source, int k);
  void boxPassesHorizontal(const int radii[3]);
  void boxPassesVertical(const int radii[3]);
  void upsample(PixelRect rect, int k, const VideoFrame& target);

  // The reduced region: cellsX_ x cellsY_ cells of k x k source pixels, the first one at
  // (originX_, originY_) in frame pixels (possibly outside the frame).
  int originX_ = 0;
  int originY_ = 0;
  int cellsX_ = 0;
  int cellsY_ = 0;

  std::vector<std::uint16_t> columnSums_;  // per source pixel column of the region, 4 channels
  std::vector<std::int32_t> cells_;        // cellsY_ x cellsX_ x 4, values x kCellScale
  std::vector<std::int32_t> passBuffer_;   // one row or one row of running sums
  std::vector<float> rowMix_;              // one vertically interpolated row of cells
  std::vector<int> columnCell_;            // per target column: left cell index
  std::vector<float> columnWeight_;        // per target column: weight of the right cell
};

}  // namespace tolvane
