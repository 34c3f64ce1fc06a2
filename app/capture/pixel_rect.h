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

  // Edges are summed in 64 bits so that a rectangle reaching past the int range
  // (made from untrusted geometry) clips instead of overflowing.
  PixelRect intersected(const PixelRect& other) const {
    const long long left = std::max(x, other.x);
    const long long top = std::max(y, other.y);
    const long long right = std::min(static_cast<long long>(x) + width, static_cast<long long>(other.x) + other.width);
    const long long bottom =
        std::min(static_cast<long long>(y) + height, static_cast<long long>(other.y) + other.height);
    if (right <= left || bottom <= top) return {};
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
  }

  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

}  // namespace tolvane
