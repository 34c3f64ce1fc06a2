#include "app/capture/frame_compositor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/capture/pixel_rect.h"

namespace tolvane {
namespace {

constexpr std::uint32_t kRed = 0xFFFF0000, kBlue = 0xFF0000FF, kGreen = 0xFF00FF00, kGrey = 0xFF323232;

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

int channel(const VideoFrame& frame, int x, int y, int c) { return frame.pixel(x, y)[c]; }  // 0 B, 1 G, 2 R, 3 A

// A camera picture whose centred square has a red left half and a blue right half; what
// the square crop cuts away (left and right, or top and bottom) is green.
VideoFrame cameraPicture(int width, int height) {
  auto frame = filledFrame(width, height, kGreen);
  const int side = std::min(width, height), left = (width - side) / 2, top = (height - side) / 2;
  for (int y = top; y < top + side; ++y) {
    for (int x = left; x < left + side; ++x) setPixel(frame, x, y, x < left + side / 2 ? kRed : kBlue);
  }
  return frame;
}

std::optional<VideoFrame> blurredWith(const VideoFrame& screen, std::vector<Rect> rects) {
  CompositeLayers layers;
  layers.blurRects = rects;
  return FrameCompositor().compose(screen, layers, nullptr);
}

TEST(FrameCompositorTest, BlurTouchesOnlyItsRectanglesRoundedOutwardAndSkipsTinyOnes) {
  const auto screen = noiseFrame(480, 270);
  const auto out = blurredWith(screen, {{0.1, 0.2, 0.3, 0.25}, {0.9, 0.9, 0.2, 0.2}, {0.5, 0.1, 0.0004, 0.5}});
  ASSERT_TRUE(out);
  EXPECT_FALSE(out->sharesPixelsWith(screen));
  const PixelRect first{48, 54, 144, 68};    // 0.45 x 270 = 121.5 -> 122
  const PixelRect second{432, 243, 48, 27};  // clipped to the frame
  EXPECT_TRUE(samePixels(*out, screen, {first, second}));
  EXPECT_NE(pixelAt(*out, 100, 80), pixelAt(screen, 100, 80));
  EXPECT_NE(pixelAt(*out, 450, 260), pixelAt(screen, 450, 260));
  // Inside, the noise is smoothed away: neighbours differ by a few levels at most.
  int steepest = 0;
  for (int x = 50; x < 190; ++x) steepest = std::max(steepest, std::abs(channel(*out, x + 1, 90, 1) - channel(*out, x, 90, 1)));
  EXPECT_LE(steepest, 12);
}

TEST(FrameCompositorTest, TheBubbleIsTheCamerasCentredSquareInASoftCircleMirroredUnlessTurnedOff) {
  FrameCompositor compositor;
  const auto screen = filledFrame(640, 360, kGrey);
  CompositeLayers layers;
  layers.camera = filledFrame(1280, 720, kBlue);
  layers.bubble = BubbleLayout{{0.5, 0.5}, 0.4};  // 144 px at (248, 108)
  const auto out = compositor.compose(screen, layers, nullptr);
  ASSERT_TRUE(out);
  EXPECT_EQ(pixelAt(*out, 320, 180), kBlue);  // inside
  EXPECT_EQ(pixelAt(*out, 249, 109), kGrey);  // in the square, outside the circle
  // The edge fades over 1.5 pixels: the centre of pixel (391, 179) lies 71.5 px out of a
  // radius of 72, a third of the way in.
  EXPECT_EQ(channel(*out, 391, 179, 3), 255);
  EXPECT_NEAR(channel(*out, 391, 179, 0), 50 + (255 - 50) / 3.0, 2);
  EXPECT_NEAR(channel(*out, 391, 179, 2), 50 * 2 / 3.0, 2);
  EXPECT_TRUE(samePixels(*out, screen, {{248, 108, 144, 144}}));

  for (const auto& camera : {cameraPicture(1280, 720), cameraPicture(720, 1280)}) {
    layers.camera = camera;
    for (bool mirrored : {true, false}) {
      layers.isCameraMirrored = mirrored;
      const auto shown = compositor.compose(screen, layers, nullptr);
      ASSERT_TRUE(shown);
      EXPECT_EQ(pixelAt(*shown, 280, 180), mirrored ? kBlue : kRed) << camera.width();
      EXPECT_EQ(pixelAt(*shown, 360, 180), mirrored ? kRed : kBlue) << camera.width();
      // Nothing of the green margins shows anywhere inside the circle.
      for (int y = 110; y < 250; ++y) {
        for (int x = 250; x < 390; ++x) {
          const bool inside = std::hypot(x + 0.5 - 320, y + 0.5 - 180) < 70;
          ASSERT_TRUE(!inside || channel(*shown, x, y, 1) < 2) << x << "," << y;
        }
      }
    }
  }
}

TEST(FrameCompositorTest, BlurThenAnnotationsScaledToTheFrameThenTheBubble) {
  const auto screen = noiseFrame(640, 360);
  auto annotation = VideoFrame::allocate(320, 180);  // half the frame's size
  for (int y = 0; y < 180; ++y) {
    for (int x = 50; x < 55; ++x) setPixel(annotation, x, y, kRed);
    for (int x = 150; x < 320; ++x) setPixel(annotation, x, y, 0x40400000);  // a quarter-opaque red
  }
  const std::vector<Rect> rects = {{0.1, 0.1, 0.6, 0.6}};  // 64..448 x 36..252
  const auto blurred = blurredWith(screen, rects);
  CompositeLayers all;
  all.blurRects = rects;
  all.annotation = annotation;
  all.camera = filledFrame(640, 480, kBlue);
  all.bubble = BubbleLayout{{0.2, 0.5}, 0.2};  // 72 px around (128, 180): over the red band
  const auto out = FrameCompositor().compose(screen, all, nullptr);
  ASSERT_TRUE(blurred && out);

  EXPECT_EQ(pixelAt(*out, 105, 60), kRed);    // annotations over the blur
  EXPECT_EQ(pixelAt(*out, 128, 180), kBlue);  // the bubble over the annotations
  EXPECT_EQ(pixelAt(*out, 20, 300), pixelAt(screen, 20, 300));  // no layer here
  // Translucent annotation over the blurred picture, inside the rectangle and outside it.
  for (auto [base, x, y] : {std::tuple{&*blurred, 350, 100}, std::tuple{&screen, 500, 300}}) {
    EXPECT_NEAR(channel(*out, x, y, 2), 64 + channel(*base, x, y, 2) * 191 / 255.0, 1.5) << x;
    EXPECT_NEAR(channel(*out, x, y, 1), channel(*base, x, y, 1) * 191 / 255.0, 1.5) << x;
    EXPECT_EQ(channel(*out, x, y, 3), 255);
  }
}

TEST(FrameCompositorTest, OddInputsDoNotCrash) {
  FrameCompositor compositor;
  const auto screen = filledFrame(33, 17, kGrey);
  const std::vector<Rect> rects = {{-1e12, -1e12, 2e12, 2e12}, {0.5, 0.5, -0.2, 0.3}, {NAN, 0, 1, 1}, {0, 0, 1, 1}};
  CompositeLayers layers;
  layers.blurRects = rects;
  layers.annotation = VideoFrame::allocate(1, 1);
  for (const auto& camera : {filledFrame(1, 1, kBlue), filledFrame(3000, 2, kBlue)}) {
    layers.camera = camera;
    for (const BubbleLayout& bubble : {BubbleLayout{{NAN, NAN}, 0.3}, BubbleLayout{{1e300, -1e300}, 1e300}}) {
      layers.bubble = bubble;
      ASSERT_TRUE(compositor.compose(screen, layers, nullptr));
    }
  }
  // A frame smaller than the bubble's minimum.
  layers.bubble = BubbleLayout{};
  ASSERT_TRUE(compositor.compose(filledFrame(2, 2, kGrey), layers, nullptr));
  EXPECT_FALSE(FrameCompositor::makePixelBuffer(nullptr, {NAN, 10}));
  EXPECT_EQ(FrameCompositor::blurPixelRect({0.1, 0.1, 0.5, NAN}, {1920, 1080}), std::nullopt);
}

// Composing a freshly captured frame in place must give exactly what composing into a
// copy gives, and a repeat of that frame must start again from the captured picture.
CompositeLayers layersFor(const std::vector<Rect>& blurRects, const VideoFrame& annotation) {
  CompositeLayers layers;
  layers.annotation = annotation;
  layers.camera = noiseFrame(320, 240, 7);
  layers.blurRects = blurRects;
  layers.bubble = BubbleLayout{{0.8, 0.7}, 0.25};
  return layers;
}

TEST(FrameCompositorInPlaceTest, MatchesACopyUnlessBlursInteractOrLayersCoverMostOfTheFrameAndRepeatsFromTheCapture) {
  const auto captured = noiseFrame(640, 360);
  auto ink = VideoFrame::allocate(640, 360);  // a stroke across the top left
  for (int y = 20; y < 30; ++y) std::memset(ink.pixel(10, y), 0x80, 190 * 4);
  auto fullInk = VideoFrame::allocate(640, 360);
  fullInk.fill(0, 0, 40, 40);
  // The layers keep a view of the rectangles.
  const std::vector<Rect> none, one{{0.3, 0.4, 0.2, 0.2}}, apart{{0.05, 0.55, 0.1, 0.1}, {0.6, 0.05, 0.1, 0.1}},
      close{{0.3, 0.3, 0.1, 0.1}, {0.42, 0.3, 0.1, 0.1}}, added{{0.35, 0.45, 0.1, 0.1}};
  const struct {
    CompositeLayers layers;
    bool inPlace;
  } cases[] = {{layersFor(none, ink), true},       {layersFor(one, ink), true},
               {layersFor(apart, ink), true},      {layersFor(close, VideoFrame()), false},  // within reach
               {layersFor(none, fullInk), false}};
  const CompositeLayers later = layersFor(added, ink);  // a blur added before a repeat
  for (const auto& [layers, inPlace] : cases) {
    SCOPED_TRACE(layers.blurRects.size() * 10 + inPlace);
    FrameCompositor reference, compositor;
    const auto expected = reference.compose(captured, layers, nullptr);
    const auto screen = VideoFrame::allocate(640, 360);
    std::memcpy(screen.data(), captured.data(), captured.byteSize());
    const auto composed = compositor.compose(screen, layers, nullptr, FrameCompositor::ScreenUse::exclusive);
    ASSERT_TRUE(composed && expected);
    EXPECT_EQ(composed->sharesPixelsWith(screen), inPlace);
    EXPECT_TRUE(inPlace || samePixels(screen, captured)) << "the screen frame is left as captured";
    EXPECT_TRUE(samePixels(*composed, *expected)) << inPlace;
    const auto repeated = compositor.compose(screen, later, nullptr, FrameCompositor::ScreenUse::shared);
    ASSERT_TRUE(repeated && !repeated->sharesPixelsWith(screen));
    EXPECT_TRUE(samePixels(*repeated, *reference.compose(captured, later, nullptr)));
    const auto cleared = compositor.compose(screen, CompositeLayers{}, nullptr);  // the drawing was cleared
    EXPECT_TRUE(cleared && samePixels(*cleared, captured));
  }
}

}  // namespace
}  // namespace tolvane
