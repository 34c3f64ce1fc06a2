#include "app/capture/region_blur.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/capture/pixel_vector.h"

namespace tolvane {
namespace {

// Reduced cells hold averages with 6 fractional bits, so the box passes lose nothing
// visible to integer rounding.
constexpr std::int32_t kCellScale = 64;
// A reduced cell sums k x k 8-bit values in 16 bits: k may be at most 16 (15 keeps the
// rounding headroom obvious).
constexpr int kMaxReduction = 15;
// The blur is taken at a resolution where its standard deviation is about this many cells:
// enough for three box passes to follow the Gaussian's shape closely.
constexpr double kCellsPerSigma = 4.5;

int floorDiv(int value, int divisor) {
  const int quotient = value / divisor;
  return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

// One box pass along a line of `count` 4-channel values `stride` ints apart, edges
// repeated. `line` is read from `source` (a copy of the input) and written in place.
void boxLine(const std::int32_t* source, std::int32_t* line, int count, int stride, int radius) {
  // Multiplying by the reciprocal instead of dividing: the same for every rectangle,
  // and several times faster.
  const float scale = 1.0f / static_cast<float>(2 * radius + 1);
  const auto at = [&](int i) { return source + static_cast<std::ptrdiff_t>(std::clamp(i, 0, count - 1)) * stride; };
  std::int32_t sum[4] = {0, 0, 0, 0};
  for (int i = -radius; i <= radius; ++i) {
    for (int c = 0; c < 4; ++c) sum[c] += at(i)[c];
  }
  for (int i = 0; i < count; ++i) {
    std::int32_t* out = line + static_cast<std::ptrdiff_t>(i) * stride;
    const std::int32_t* entering = at(i + radius + 1);
    const std::int32_t* leaving = at(i - radius);
    for (int c = 0; c < 4; ++c) {
      out[c] = static_cast<std::int32_t>(static_cast<float>(sum[c]) * scale + 0.5f);
      sum[c] += entering[c] - leaving[c];
    }
  }
}

}  // namespace

int RegionBlur::reductionFor(double sigma) {
  return std::clamp(static_cast<int>(sigma / kCellsPerSigma), 1, kMaxReduction);
}

// Three boxes of widths w_l (m times) and w_l + 2 (3 - m times) whose variances add up
// to sigma squared as closely as odd widths allow.
void RegionBlur::boxWidthsForGaussian(double sigma, int widths[3]) {
  constexpr int n = 3;
  const double variance = sigma * sigma;
  const double ideal = std::sqrt(12.0 * variance / n + 1.0);
  int lower = static_cast<int>(std::floor(ideal));
  if (lower % 2 == 0) --lower;
  lower = std::max(lower, 1);
  const double m = (12.0 * variance - n * lower * lower - 4.0 * n * lower - 3.0 * n) / (-4.0 * lower - 4.0);
  const int lowerCount = std::clamp(static_cast<int>(std::lround(m)), 0, n);
  for (int i = 0; i < n; ++i) widths[i] = i < lowerCount ? lower : lower + 2;
}

// The reduction, the box passes and the lattice of cells that a blur of one rectangle
// works on.
struct RegionBlur::Plan {
  int k = 1;
  int radii[3] = {0, 0, 0};
  int firstCellX = 0;
  int firstCellY = 0;
  int cellsX = 0;
  int cellsY = 0;
};

RegionBlur::Plan RegionBlur::plan(PixelRect rect, double sigma) {
  Plan plan;
  plan.k = reductionFor(sigma);
  const int k = plan.k;
  // Averaging k x k blocks adds a variance of (k^2 - 1) / 12 and bilinear scaling back
  // up about k^2 / 6 (in source pixels); the box passes supply the rest.
  const double resampling = (k * k - 1) / 12.0 + (k > 1 ? k * k / 6.0 : 0.0);
  const double cellSigma = std::sqrt(std::max(sigma * sigma - resampling, 0.0)) / k;
  int widths[3];
  boxWidthsForGaussian(cellSigma, widths);
  for (int i = 0; i < 3; ++i) plan.radii[i] = widths[i] / 2;
  // Cells further out than the passes reach (plus one for the bilinear neighbour and one
  // to spare) cannot influence the rectangle.
  const int margin = plan.radii[0] + plan.radii[1] + plan.radii[2] + 2;
  plan.firstCellX = floorDiv(rect.x, k) - margin;
  plan.firstCellY = floorDiv(rect.y, k) - margin;
  plan.cellsX = floorDiv(rect.maxX() - 1, k) + margin - plan.firstCellX + 1;
  plan.cellsY = floorDiv(rect.maxY() - 1, k) + margin - plan.firstCellY + 1;
  return plan;
}

PixelRect RegionBlur::readArea(PixelRect rect, double sigma) {
  if (rect.isEmpty() || !(sigma > 0)) return {};
  const Plan p = plan(rect, sigma);
  return {p.firstCellX * p.k, p.firstCellY * p.k, p.cellsX * p.k, p.cellsY * p.k};
}

void RegionBlur::blur(const VideoFrame& source, PixelRect rect, double sigma, const VideoFrame& target) {
  rect = rect.intersected({0, 0, source.width(), source.height()});
  if (rect.isEmpty() || !(sigma > 0)) return;

  const Plan p = plan(rect, sigma);
  originX_ = p.firstCellX * p.k;
  originY_ = p.firstCellY * p.k;
  cellsX_ = p.cellsX;
  cellsY_ = p.cellsY;

  downsample(source, p.k);
  boxPassesHorizontal(p.radii);
  boxPassesVertical(p.radii);
  upsample(rect, p.k, target);
}

void RegionBlur::downsample(const VideoFrame& source, int k) {
  const int width = source.width();
  const int height = source.height();
  const int regionWidth = cellsX_ * k;
  columnSums_.resize(static_cast<std::size_t>(regionWidth) * 4);
  cells_.resize(static_cast<std::size_t>(cellsX_) * cellsY_ * 4);

  // The part of each region row that lies inside the frame; the rest repeats the edge.
  const int insideLeft = std::clamp(originX_, 0, width);
  const int insideRight = std::clamp(originX_ + regionWidth, 0, width);
  const int firstInside = insideLeft - originX_;
  const int lastInside = insideRight - originX_ - 1;
  const std::size_t insideBytes = static_cast<std::size_t>(insideRight - insideLeft) * 4;
  const std::int32_t divisor = k * k;

  std::uint16_t* sums = columnSums_.data();
  for (int cy = 0; cy < cellsY_; ++cy) {
    std::uint16_t* insideSums = sums + static_cast<std::ptrdiff_t>(firstInside) * 4;
    std::fill(insideSums, insideSums + insideBytes, std::uint16_t{0});
    for (int j = 0; j < k; ++j) {
      const int y = std::clamp(originY_ + cy * k + j, 0, height - 1);
      const std::uint8_t* row = source.row(y) + static_cast<std::ptrdiff_t>(insideLeft) * 4;
      for (std::size_t i = 0; i < insideBytes; ++i) insideSums[i] = static_cast<std::uint16_t>(insideSums[i] + row[i]);
    }
    for (int column = 0; column < firstInside; ++column) {
      std::memcpy(sums + column * 4, sums + firstInside * 4, 4 * sizeof(std::uint16_t));
    }
    for (int column = lastInside + 1; column < regionWidth; ++column) {
      std::memcpy(sums + column * 4, sums + lastInside * 4, 4 * sizeof(std::uint16_t));
    }

    std::int32_t* cells = cells_.data() + static_cast<std::ptrdiff_t>(cy) * cellsX_ * 4;
    for (int cx = 0; cx < cellsX_; ++cx) {
      std::int32_t total[4] = {0, 0, 0, 0};
      const std::uint16_t* block = sums + static_cast<std::ptrdiff_t>(cx) * k * 4;
      for (int j = 0; j < k; ++j) {
        for (int c = 0; c < 4; ++c) total[c] += block[j * 4 + c];
      }
      for (int c = 0; c < 4; ++c) cells[cx * 4 + c] = (total[c] * kCellScale + divisor / 2) / divisor;
    }
  }
}

void RegionBlur::boxPassesHorizontal(const int radii[3]) {
  passBuffer_.resize(static_cast<std::size_t>(cellsX_) * 4);
  for (int cy = 0; cy < cellsY_; ++cy) {
    std::int32_t* row = cells_.data() + static_cast<std::ptrdiff_t>(cy) * cellsX_ * 4;
    for (int pass = 0; pass < 3; ++pass) {
      if (radii[pass] == 0) continue;
      std::copy(row, row + static_cast<std::ptrdiff_t>(cellsX_) * 4, passBuffer_.begin());
      boxLine(passBuffer_.data(), row, cellsX_, 4, radii[pass]);
    }
  }
}

// Runs down the columns row by row, so that the inner loops walk contiguous memory.
void RegionBlur::boxPassesVertical(const int radii[3]) {
  const std::size_t rowLength = static_cast<std::size_t>(cellsX_) * 4;
  passBuffer_.resize(cells_.size() + rowLength);
  std::int32_t* copy = passBuffer_.data();
  std::int32_t* sums = passBuffer_.data() + cells_.size();
  const auto rowOf = [&](std::int32_t* base, int y) {
    return base + static_cast<std::ptrdiff_t>(std::clamp(y, 0, cellsY_ - 1)) * static_cast<std::ptrdiff_t>(rowLength);
  };
  for (int pass = 0; pass < 3; ++pass) {
    const int radius = radii[pass];
    if (radius == 0) continue;
    const float scale = 1.0f / static_cast<float>(2 * radius + 1);
    std::copy(cells_.begin(), cells_.end(), copy);
    std::fill(sums, sums + rowLength, 0);
    for (int y = -radius; y <= radius; ++y) {
      const std::int32_t* row = rowOf(copy, y);
      for (std::size_t i = 0; i < rowLength; ++i) sums[i] += row[i];
    }
    for (int y = 0; y < cellsY_; ++y) {
      std::int32_t* out = rowOf(cells_.data(), y);
      const std::int32_t* entering = rowOf(copy, y + radius + 1);
      const std::int32_t* leaving = rowOf(copy, y - radius);
      for (std::size_t i = 0; i < rowLength; ++i) {
        out[i] = static_cast<std::int32_t>(static_cast<float>(sums[i]) * scale + 0.5f);
        sums[i] += entering[i] - leaving[i];
      }
    }
  }
}

void RegionBlur::upsample(PixelRect rect, int k, const VideoFrame& target) {
  // Cell i's centre lies at originX_ + (i + 0.5) k in frame pixels.
  const auto cellCoordinate = [k](int pixel, int origin) { return (pixel + 0.5 - origin) / k - 0.5; };
  columnCell_.resize(static_cast<std::size_t>(rect.width));
  columnWeight_.resize(static_cast<std::size_t>(rect.width));
  for (int i = 0; i < rect.width; ++i) {
    const double u = cellCoordinate(rect.x + i, originX_);
    const double cell = std::floor(u);
    columnCell_[static_cast<std::size_t>(i)] = static_cast<int>(cell) * 4;
    columnWeight_[static_cast<std::size_t>(i)] = static_cast<float>(u - cell);
  }

  const std::size_t rowLength = static_cast<std::size_t>(cellsX_) * 4;
  rowMix_.resize(rowLength);
  constexpr float kUnscale = 1.0f / kCellScale;
  for (int y = rect.y; y < rect.maxY(); ++y) {
    const double v = cellCoordinate(y, originY_);
    const double cell = std::floor(v);
    const float weight = static_cast<float>(v - cell);
    const std::int32_t* top =
        cells_.data() + static_cast<std::ptrdiff_t>(cell) * static_cast<std::ptrdiff_t>(rowLength);
    const std::int32_t* bottom = top + rowLength;
    for (std::size_t i = 0; i < rowLength; ++i) {
      const auto a = static_cast<float>(top[i]);
      const auto b = static_cast<float>(bottom[i]);
      rowMix_[i] = (a + (b - a) * weight) * kUnscale;
    }

    std::uint8_t* out = target.pixel(rect.x, y);
    for (std::size_t i = 0; i < static_cast<std::size_t>(rect.width); ++i, out += 4) {
      const float* left = rowMix_.data() + columnCell_[i];
      pixel_vector::store(pixel_vector::mix(pixel_vector::load(left), pixel_vector::load(left + 4), columnWeight_[i]),
                          out);
    }
  }
}

}  // namespace tolvane
