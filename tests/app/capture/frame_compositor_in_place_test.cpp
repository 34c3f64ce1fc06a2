// Composing a freshly captured frame in place must give exactly what composing into a
// copy gives, and a repeat of that frame must start again from the captured picture.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/capture/frame_compositor.h"
#include "frame_test_support.h"

namespace tolvane {
namespace {

using Use = FrameCompositor::ScreenUse;

VideoFrame copyOf(const VideoFrame& frame) {
  auto copy = VideoFrame::allocate(frame.width(), frame.height());
  std::memcpy(copy.data(), frame.data(), frame.byteSize());
  return copy;
}

// A stroke of ink across the top left and a camera picture of noise.
CompositeLayers layersFor(const std::vector<Rect>& blurRects, const VideoFrame& annotation) {
  CompositeLayers layers;
  layers.annotation = annotation;
  layers.camera = testing::noiseFrame(320, 240, 7);
  layers.blurRects = blurRects;
  layers.bubble = BubbleLayout{{0.8, 0.7}, 0.25};
  return layers;
}

VideoFrame inkedAnnotation(int width, int height) {
  auto annotation = VideoFrame::allocate(width, height);
  for (int y = 20; y < 30; ++y) {
    for (int x = 10; x < 200; ++x) std::memset(annotation.pixel(x, y), 0x80, 4);
  }
  return annotation;
}

TEST(FrameCompositorInPlaceTest, MatchesACompositeIntoACopyAndRepeatsFromTheCapturedPicture) {
  const auto captured = testing::noiseFrame(640, 360);
  const auto annotation = inkedAnnotation(640, 360);
  const std::vector<Rect> oneBlur{{0.3, 0.4, 0.2, 0.2}};
  const std::vector<Rect> twoApart{{0.05, 0.55, 0.1, 0.1}, {0.6, 0.05, 0.1, 0.1}};
  for (const auto& blurRects : {std::vector<Rect>{}, oneBlur, twoApart}) {
    const CompositeLayers layers = layersFor(blurRects, annotation);
    FrameCompositor reference;
    const auto expected = reference.compose(captured, layers, nullptr);
    ASSERT_TRUE(expected && !expected->sharesPixelsWith(captured));

    FrameCompositor compositor;
    const auto screen = copyOf(captured);
    const auto composed = compositor.compose(screen, layers, nullptr, Use::exclusive);
    ASSERT_TRUE(composed);
    EXPECT_TRUE(composed->sharesPixelsWith(screen)) << "composed in place";
    EXPECT_TRUE(testing::samePixels(*composed, *expected));

    // A repeat of the same frame, with a blur added since: starts from the picture as
    // captured, not from the composite.
    const std::vector<Rect> later{{0.35, 0.45, 0.1, 0.1}};
    const CompositeLayers repeatLayers = layersFor(later, annotation);
    const auto repeated = compositor.compose(screen, repeatLayers, nullptr, Use::shared);
    ASSERT_TRUE(repeated && !repeated->sharesPixelsWith(screen));
    EXPECT_TRUE(testing::samePixels(*repeated, *reference.compose(captured, repeatLayers, nullptr)));
  }
}

TEST(FrameCompositorInPlaceTest, FallsBackToACopyWhenBlursInteractOrLayersCoverMostOfTheFrame) {
  const auto captured = testing::noiseFrame(640, 360);
  auto fullInk = VideoFrame::allocate(640, 360);
  fullInk.fill(0, 0, 40, 40);
  const std::vector<Rect> close{{0.3, 0.3, 0.1, 0.1}, {0.42, 0.3, 0.1, 0.1}};  // within each other's reach
  for (const CompositeLayers& layers : {layersFor(close, VideoFrame()), layersFor({}, fullInk)}) {
    FrameCompositor reference;
    const auto expected = reference.compose(captured, layers, nullptr);
    FrameCompositor compositor;
    const auto screen = copyOf(captured);
    const auto composed = compositor.compose(screen, layers, nullptr, Use::exclusive);
    ASSERT_TRUE(composed && expected);
    EXPECT_FALSE(composed->sharesPixelsWith(screen));
    EXPECT_TRUE(testing::samePixels(screen, captured)) << "the screen frame is left as captured";
    EXPECT_TRUE(testing::samePixels(*composed, *expected));
  }
}

}  // namespace
}  // namespace tolvane
