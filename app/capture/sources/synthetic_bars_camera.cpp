#include "app/capture/sources/synthetic_bars_camera.h"

#include <algorithm>
#include <array>

namespace tolvane {

namespace {

// 0xAARRGGBB, which is B, G, R, A in memory on the little-endian machines Tolvane runs on.
constexpr std::array<std::uint32_t, 8> bars = {0xFFFFFFFFu, 0xFFFFFF00u, 0xFF00FFFFu, 0xFF00FF00u,
                                               0xFFFF00FFu, 0xFFFF0000u, 0xFF0000FFu, 0xFF000000u};

}  // namespace

std::uint32_t SyntheticBarsCamera::barColor(int x) {
  return bars[static_cast<std::size_t>(std::clamp(x * 8 / width, 0, 7))];
}

SyntheticBarsCamera::SyntheticBarsCamera() : picture_(VideoFrame::allocate(width, height)) {
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(picture_.row(y));
    for (int x = 0; x < width; ++x) row[x] = barColor(x);
  }
}

SyntheticBarsCamera::~SyntheticBarsCamera() { stop(); }

void SyntheticBarsCamera::start(FrameHandler onFrame, FailureHandler) {
  onFrame_ = std::move(onFrame);
  // The picture never changes, so the same pixels are handed out every time.
  loop_.start(30, [this] {
    onFrame_(picture_);
    return true;
  });
}

void SyntheticBarsCamera::stop() { loop_.stop(); }

}  // namespace tolvane
