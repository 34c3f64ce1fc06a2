#pragma once

#include <algorithm>

namespace tolvane {

// A rectangle of whole pixels, top-left origin.
struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  int maxX() const { return x + width; }
  int maxY() const { return y + height; }
  bool isEmpty() const { return width <= 0 || height <= 0; }

  PixelRect intersected(const PixelRect& other) const {
    const int left = std::max(x, other.x);
    const int top = std::max(y, other.y);
    const int right = std::min(maxX(), other.maxX());
    const int bottom = std::min(maxY(), other.maxY());
    if (right <= left || bottom <= top) return {};
    return {left, top, right - left, bottom - top};
  }

  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

}  // namespace tolvane
