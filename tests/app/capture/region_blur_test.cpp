#include "app/capture/region_blur.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "tests/app/capture/frame_test_support.h"

namespace tolvane {
namespace {

// A straightforward Gaussian (kernel out to 4 sigma, edges repeated) of `rect`, as doubles
// per pixel and channel: the reference the fast blur is judged against.
std::vector<double> referenceGaussian(const VideoFrame& frame, PixelRect rect, double sigma) {
  const int reach = static_cast<int>(std::ceil(4 * sigma));
  std::vector<double> kernel(static_cast<std::size_t>(2 * reach + 1));
  double total = 0;
  for (int i = -reach; i <= reach; ++i)
    total += kernel[static_cast<std::size_t>(i + reach)] = std::exp(-0.5 * i * i / (sigma * sigma));
  for (double& weight : kernel) weight /= total;

  const auto clampX = [&](int x) { return std::clamp(x, 0, frame.width() - 1); };
  const auto clampY = [&](int y) { return std::clamp(y, 0, frame.height() - 1); };
  const int rows = rect.height + 2 * reach;
  std::vector<double> horizontal(static_cast<std::size_t>(rows) * rect.width * 4);
  for (int j = 0; j < rows; ++j) {
    const int y = clampY(rect.y - reach + j);
    for (int i = 0; i < rect.width; ++i) {
      for (int k = -reach; k <= reach; ++k) {
        const std::uint8_t* p = frame.pixel(clampX(rect.x + i + k), y);
        for (int c = 0; c < 4; ++c) {
          horizontal[(static_cast<std::size_t>(j) * rect.width + i) * 4 + c] +=
              kernel[static_cast<std::size_t>(k + reach)] * p[c];
        }
      }
    }
  }
  std::vector<double> result(static_cast<std::size_t>(rect.height) * rect.width * 4);
  for (int j = 0; j < rect.height; ++j) {
    for (int i = 0; i < rect.width; ++i) {
      for (int k = 0; k <= 2 * reach; ++k) {
        for (int c = 0; c < 4; ++c) {
          result[(static_cast<std::size_t>(j) * rect.width + i) * 4 + c] +=
              kernel[static_cast<std::size_t>(k)] *
              horizontal[(static_cast<std::size_t>(j + k) * rect.width + i) * 4 + c];
        }
      }
    }
  }
  return result;
}

struct BlurCase {
  int width;
  int height;
  PixelRect rect;
};

class RegionBlurMatchesGaussian : public ::testing::TestWithParam<BlurCase> {};

TEST_P(RegionBlurMatchesGaussian, WithinTwoLevelsOnlyInsideTheRectangle) {
  const auto [width, height, requested] = GetParam();
  const PixelRect rect = requested.intersected({0, 0, width, height});
  const auto source = testing::noiseFrame(width, height);
  const auto target = testing::noiseFrame(width, height, 999);
  const auto untouched = testing::noiseFrame(width, height, 999);
  const double sigma = std::min(width, height) * 0.025;

  RegionBlur blur;
  blur.blur(source, requested, sigma, target);

  const auto reference = referenceGaussian(source, rect, sigma);
  double worst = 0;
  double sum = 0;
  for (int j = 0; j < rect.height; ++j) {
    for (int i = 0; i < rect.width; ++i) {
      const std::uint8_t* p = target.pixel(rect.x + i, rect.y + j);
      for (int c = 0; c < 4; ++c) {
        const double error = std::abs(p[c] - reference[(static_cast<std::size_t>(j) * rect.width + i) * 4 + c]);
        worst = std::max(worst, error);
        sum += error;
      }
    }
  }
  const double mean = sum / (rect.width * rect.height * 4.0);
  EXPECT_LE(worst, 2.0) << "reduction " << RegionBlur::reductionFor(sigma);
  EXPECT_LE(mean, 0.5);

  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool inside = x >= rect.x && x < rect.maxX() && y >= rect.y && y < rect.maxY();
      if (inside) continue;
      ASSERT_EQ(std::memcmp(target.pixel(x, y), untouched.pixel(x, y), 4), 0) << x << "," << y;
    }
  }
}

// One case per reduction factor of the fast path, and the frame's edges and clipping.
INSTANTIATE_TEST_SUITE_P(
    Sizes, RegionBlurMatchesGaussian,
    ::testing::Values(BlurCase{400, 300, {100, 80, 120, 90}},      // sigma 7.5, full resolution
                      BlurCase{960, 540, {0, 0, 150, 100}},        // sigma 13.5, a third; top-left edges
                      BlurCase{1280, 720, {-50, 600, 300, 200}},   // sigma 18, a quarter; clipped, bottom edge
                      BlurCase{2560, 1440, {2490, 20, 70, 60}}));  // sigma 36, an eighth; top-right edges

}  // namespace
}  // namespace tolvane
