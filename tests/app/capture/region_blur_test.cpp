#include "app/capture/region_blur.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "tests/app/capture/frame_test_support.h"

namespace tolvane {
namespace {

// A straightforward Gaussian (kernel out to 4 sigma, edges repeated) of the pixel at
// (x, y), per channel: the reference the fast blur is judged against.
std::array<double, 4> referenceGaussian(const VideoFrame& frame, int x, int y, double sigma) {
  const int reach = static_cast<int>(std::ceil(4 * sigma));
  std::vector<double> kernel;
  for (int i = -reach; i <= reach; ++i) kernel.push_back(std::exp(-0.5 * i * i / (sigma * sigma)));
  std::array<double, 4> sum{};
  double total = 0;
  for (int j = -reach; j <= reach; ++j) {
    for (int i = -reach; i <= reach; ++i) {
      const double weight = kernel[static_cast<std::size_t>(i + reach)] * kernel[static_cast<std::size_t>(j + reach)];
      const std::uint8_t* p =
          frame.pixel(std::clamp(x + i, 0, frame.width() - 1), std::clamp(y + j, 0, frame.height() - 1));
      for (std::size_t c = 0; c < 4; ++c) sum[c] += weight * p[c];
      total += weight;
    }
  }
  for (double& channel : sum) channel /= total;
  return sum;
}

TEST(RegionBlurTest, MatchesAGaussianWithinTwoLevelsOnlyInsideTheRectangle) {
  // One case per reduction factor of the fast path, and the frame's edges and clipping.
  const struct {
    int width, height;
    PixelRect requested;
  } cases[] = {{400, 300, {100, 80, 120, 90}},      // sigma 7.5, full resolution
               {960, 540, {0, 0, 150, 100}},        // sigma 13.5, a third; top-left edges
               {1280, 720, {-50, 600, 300, 200}},   // sigma 18, a quarter; clipped, bottom edge
               {2560, 1440, {2490, 20, 70, 60}}};   // sigma 36, an eighth; top-right edges
  for (const auto& [width, height, requested] : cases) {
    const PixelRect rect = requested.intersected({0, 0, width, height});
    const auto source = testing::noiseFrame(width, height);
    const auto target = testing::noiseFrame(width, height, 999);
    const double sigma = std::min(width, height) * 0.025;

    RegionBlur blur;
    blur.blur(source, requested, sigma, target);

    // Every fifth pixel each way, a stride prime to every reduction factor so that each
    // phase of the reduced image is reached, and the rectangle's last row and column.
    const auto sampled = [](int v, int from, int end) { return (v - from) % 5 == 0 || v == end - 1; };
    double worst = 0, sum = 0;
    int compared = 0;
    for (int y = rect.y; y < rect.maxY(); ++y) {
      for (int x = rect.x; x < rect.maxX(); ++x) {
        if (!sampled(y, rect.y, rect.maxY()) || !sampled(x, rect.x, rect.maxX())) continue;
        compared += 4;
        const auto reference = referenceGaussian(source, x, y, sigma);
        for (std::size_t c = 0; c < 4; ++c) {
          const double error = std::abs(target.pixel(x, y)[c] - reference[c]);
          worst = std::max(worst, error);
          sum += error;
        }
      }
    }
    EXPECT_LE(worst, 2.0) << "reduction " << RegionBlur::reductionFor(sigma);
    EXPECT_LE(sum / compared, 0.5) << width;
    EXPECT_TRUE(testing::samePixels(target, testing::noiseFrame(width, height, 999), {rect})) << width;
  }
}

}  // namespace
}  // namespace tolvane
