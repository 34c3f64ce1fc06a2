#include "app/capture/annotation_overlay.h"

#include <libyuv/planar_functions.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

namespace tolvane {
namespace {

// Bilinear scaling, pixel centres aligned, edges repeated. (libyuv's bilinear scaler
// turns opaque 255 into 253, which would let the screen show through annotations.)
// Premultiplied pixels scale correctly as they are.
void scaleBilinear(const VideoFrame& source, const VideoFrame& target) {
  const auto positions = [](int targetLength, int sourceLength) {
    std::vector<std::pair<int, float>> result(static_cast<std::size_t>(targetLength));
    const double ratio = static_cast<double>(sourceLength) / targetLength;
    for (int i = 0; i < targetLength; ++i) {
      const double position = std::clamp((i + 0.5) * ratio - 0.5, 0.0, sourceLength - 1.0);
      const int index = static_cast<int>(position);
      result[static_cast<std::size_t>(i)] = {index, static_cast<float>(position - index)};
    }
    return result;
  };
  const auto columns = positions(target.width(), source.width());
  const auto rows = positions(target.height(), source.height());
  const int lastColumn = source.width() - 1;
  const int lastRow = source.height() - 1;
  for (int y = 0; y < target.height(); ++y) {
    const auto [sourceRow, rowWeight] = rows[static_cast<std::size_t>(y)];
    const std::uint8_t* upper = source.row(sourceRow);
    const std::uint8_t* lower = source.row(std::min(sourceRow + 1, lastRow));
    std::uint8_t* out = target.row(y);
    for (int x = 0; x < target.width(); ++x) {
      const auto [column, columnWeight] = columns[static_cast<std::size_t>(x)];
      const int left = column * 4;
      const int right = std::min(column + 1, lastColumn) * 4;
      for (int c = 0; c < 4; ++c) {
        const float top = upper[left + c] + (upper[right + c] - upper[left + c]) * columnWeight;
        const float bottom = lower[left + c] + (lower[right + c] - lower[left + c]) * columnWeight;
        out[x * 4 + c] = static_cast<std::uint8_t>(top + (bottom - top) * rowWeight + 0.5f);
      }
    }
  }
}

}  // namespace

bool AnnotationOverlay::prepare(const VideoFrame& annotation, int width, int height) {
  if (current_ != nullptr && source_.sharesPixelsWith(annotation) && current_->width() == width &&
      current_->height() == height) {
    return true;
  }
  current_ = nullptr;
  source_ = annotation;
  if (annotation.width() == width && annotation.height() == height) {
    current_ = &source_;
  } else {
    try {
      if (!scaled_ || scaled_.width() != width || scaled_.height() != height) {
        scaled_ = VideoFrame::allocate(width, height);
      }
    } catch (const std::bad_alloc&) {
      scaled_ = VideoFrame();
      return false;
    }
    scaleBilinear(annotation, scaled_);
    current_ = &scaled_;
  }
  mapInk();
  return true;
}

void AnnotationOverlay::mapInk() {
  const VideoFrame& image = *current_;
  // At most 64 tiles a row, at least 64 pixels each.
  tileWidth_ = std::max(64, (image.width() + 63) / 64);
  inkedTiles_.assign(static_cast<std::size_t>(image.height()), 0);
  std::uint64_t allTiles = 0;
  int firstRow = image.height();
  int lastRow = -1;
  for (int y = 0; y < image.height(); ++y) {
    const std::uint8_t* row = image.row(y);
    std::uint64_t tiles = 0;
    for (int x = 0; x < image.width(); ++x) {
      // Premultiplied: a transparent pixel is all zero; any ink has alpha.
      if (row[x * 4 + 3] != 0) tiles |= std::uint64_t{1} << (x / tileWidth_);
    }
    inkedTiles_[static_cast<std::size_t>(y)] = tiles;
    if (tiles != 0) {
      firstRow = std::min(firstRow, y);
      lastRow = y;
      allTiles |= tiles;
    }
  }
  inkBounds_ = {};
  if (allTiles == 0) return;
  const int left = std::countr_zero(allTiles) * tileWidth_;
  const int right = std::min(image.width(), (64 - std::countl_zero(allTiles)) * tileWidth_);
  inkBounds_ = PixelRect{left, firstRow, right - left, lastRow + 1 - firstRow};
}

template <typename Run>
void AnnotationOverlay::forEachInkedRun(int row, int left, int right, Run&& run) const {
  std::uint64_t tiles = inkedTiles_[static_cast<std::size_t>(row)];
  while (tiles != 0) {
    const int firstTile = std::countr_zero(tiles);
    const int endTile = firstTile + std::countr_one(tiles >> firstTile);
    tiles = endTile >= 64 ? 0 : tiles & ~((std::uint64_t{1} << endTile) - 1);
    const int first = std::max(left, firstTile * tileWidth_);
    const int end = std::min(right, endTile * tileWidth_);
    if (first < end) run(first, end);
  }
}

void AnnotationOverlay::composeOver(const VideoFrame& screen, const VideoFrame& target) const {
  const VideoFrame& overlay = *current_;
  const auto blendRow = libyuv::GetARGBBlend();
  const auto rowBytes = static_cast<std::size_t>(screen.width()) * 4;
  for (int y = 0; y < screen.height(); ++y) {
    const std::uint8_t* screenRow = screen.row(y);
    std::uint8_t* targetRow = target.row(y);
    std::memcpy(targetRow, screenRow, rowBytes);
    forEachInkedRun(y, 0, screen.width(), [&](int first, int end) {
      blendRow(overlay.row(y) + first * 4, screenRow + first * 4, targetRow + first * 4, end - first);
    });
  }
}

void AnnotationOverlay::blendInPlace(const VideoFrame& target, PixelRect area) const {
  const VideoFrame& overlay = *current_;
  const auto blendRow = libyuv::GetARGBBlend();
  for (int y = area.y; y < area.maxY(); ++y) {
    std::uint8_t* targetRow = target.row(y);
    forEachInkedRun(y, area.x, area.maxX(), [&](int first, int end) {
      blendRow(overlay.row(y) + first * 4, targetRow + first * 4, targetRow + first * 4, end - first);
    });
  }
}

}  // namespace tolvane
