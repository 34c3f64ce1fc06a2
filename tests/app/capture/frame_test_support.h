#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/capture/pixel_rect.h"
#include "kit/media/video_frame.h"

namespace tolvane::testing {

// A frame of deterministic noise over 8 x 8 blocks of colour: detail at every scale, so
// a blur that is wrong anywhere shows.
inline VideoFrame noiseFrame(int width, int height, std::uint32_t seed = 12345) {
  auto frame = VideoFrame::allocate(width, height);
  std::uint32_t state = seed;
  const auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(state >> 24);
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = frame.pixel(x, y);
      for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>((c == (x / 8 + y / 8) % 3 ? 190 : 40) + (next() & 63));
      p[3] = 255;
    }
  }
  return frame;
}

// Pixels as 0xAARRGGBB, which is B, G, R, A in memory.
inline void setPixel(const VideoFrame& frame, int x, int y, std::uint32_t colour) {
  std::memcpy(frame.pixel(x, y), &colour, 4);
}
inline std::uint32_t pixelAt(const VideoFrame& frame, int x, int y) {
  std::uint32_t colour;
  std::memcpy(&colour, frame.pixel(x, y), 4);
  return colour;
}
inline VideoFrame filledFrame(int width, int height, std::uint32_t colour) {
  auto frame = VideoFrame::allocate(width, height);
  frame.fill(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF, colour >> 24);
  return frame;
}

// True when the frames agree on every pixel outside `holes`.
inline bool samePixels(const VideoFrame& a, const VideoFrame& b, const std::vector<PixelRect>& holes = {}) {
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const bool inHole = std::any_of(holes.begin(), holes.end(), [&](const PixelRect& r) {
        return x >= r.x && x < r.maxX() && y >= r.y && y < r.maxY();
      });
      if (!inHole && std::memcmp(a.pixel(x, y), b.pixel(x, y), 4) != 0) return false;
    }
  }
  return true;
}

}  // namespace tolvane::testing
