#include "kit/annotations/annotation_renderer.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tolvane {
namespace {

constexpr AnnotationColor kRed{1.0, 0.0, 0.0};

int alphaAt(const VideoFrame& frame, int x, int y) { return frame.pixel(x, y)[3]; }

VideoFrame renderOne(const AnnotationStroke& stroke, Size size) {
  auto frame = AnnotationRenderer::render({stroke}, size);
  EXPECT_TRUE(frame.has_value());
  return frame ? *frame : VideoFrame::allocate(1, 1);
}

// Unit point for a pixel position on a square canvas of `side` pixels.
Point at(double x, double y, double side) { return {x / side, y / side}; }

TEST(AnnotationRendererTest, ArrowHeadsSitAtTheTipAndFollowTheShaft) {
  // 1000 x 1000 at width 0.001: a 1-pixel shaft and a head of max(3.2, 16) = 16 px, so
  // the corners lie at (600 - 16 cos(pi/7), 500 -/+ 16 sin(pi/7)) = (585.58, 493.06 / 506.94).
  const auto frame = renderOne(AnnotationStroke(AnnotationTool::arrow, annotation_colors::tomato, 0.001,
                                                {at(100, 500, 1000), at(600, 500, 1000)}),
                               {1000, 1000});
  // Just behind the tip the head is solid and tomato-coloured (B, G, R, A premultiplied).
  const std::uint8_t* tip = frame.pixel(597, 499);
  EXPECT_LE(std::abs(tip[0] - 80) + std::abs(tip[1] - 98) + std::abs(tip[2] - 255), 2);
  EXPECT_EQ(tip[3], 255);
  // Inside both corners, outside them, behind the head's back edge and beyond the tip.
  for (auto [x, y] : {std::pair{587, 504}, {587, 495}}) EXPECT_EQ(alphaAt(frame, x, y), 255) << x << "," << y;
  for (auto [x, y] : {std::pair{587, 508}, {587, 491}, {583, 505}, {583, 494}, {603, 500}, {300, 503}}) {
    EXPECT_EQ(alphaAt(frame, x, y), 0) << x << "," << y;
  }
  EXPECT_GT(alphaAt(frame, 300, 499) + alphaAt(frame, 300, 500), 200);  // the one-pixel shaft
}

TEST(AnnotationRendererTest, OnePointPenDrawsARoundDotRectanglesAreOutlinesAndEllipsesInscribed) {
  const auto dot = renderOne(AnnotationStroke(AnnotationTool::pen, kRed, 0.02, {{0.5, 0.5}}), {1000, 1000});
  // Line width 20 px: a round dot of radius 10 around (500, 500).
  for (auto [x, y] : {std::pair{500, 500}, {506, 500}, {493, 500}, {500, 506}}) EXPECT_EQ(alphaAt(dot, x, y), 255);
  EXPECT_EQ(alphaAt(dot, 512, 500), 0);
  EXPECT_EQ(alphaAt(dot, 508, 508), 0);  // round, not square

  const std::vector<Point> corners = {at(300, 300, 400), at(100, 100, 400)};  // dragged up-left
  const auto rectangle = renderOne(AnnotationStroke(AnnotationTool::rectangle, kRed, 0.01, corners), {400, 400});
  EXPECT_EQ(alphaAt(rectangle, 100, 100), 255);  // corner
  EXPECT_EQ(alphaAt(rectangle, 200, 200), 0);    // not filled

  const auto ellipse = renderOne(AnnotationStroke(AnnotationTool::ellipse, kRed, 0.01, corners), {400, 400});
  EXPECT_EQ(alphaAt(ellipse, 100, 200), 255);  // touches the box's sides
  EXPECT_EQ(alphaAt(ellipse, 200, 299), 255);
  EXPECT_EQ(alphaAt(ellipse, 101, 101), 0);  // misses its corners
}

TEST(AnnotationRendererTest, HighlighterAlphaAppliesToTheWholeStrokeAndWidthFollowsTheShorterSideDownToOnePixel) {
  // Back and forth over the same line: the stroke overlaps itself.
  const AnnotationStroke backAndForth(AnnotationTool::highlighter, kRed, 0.05, {{0.2, 0.5}, {0.8, 0.5}, {0.2, 0.5}});
  const auto once = renderOne(backAndForth, {400, 400});
  EXPECT_NEAR(alphaAt(once, 140, 200), 97, 1);  // 0.38 x 255
  EXPECT_NEAR(once.pixel(140, 200)[2], 97, 1);  // premultiplied red

  // 0.01 of the shorter side (200) is 2 px, whatever the longer side.
  const auto wide = renderOne(AnnotationStroke(AnnotationTool::line, kRed, 0.01, {{0.1, 0.5}, {0.9, 0.5}}), {800, 200});
  for (int y : {98, 99, 100, 101}) EXPECT_EQ(alphaAt(wide, 400, y), y == 99 || y == 100 ? 255 : 0) << y;

  const auto thin =
      renderOne(AnnotationStroke(AnnotationTool::line, kRed, 0.0001, {{0.1, 0.5}, {0.9, 0.5}}), {800, 200});
  EXPECT_GT(alphaAt(thin, 400, 99) + alphaAt(thin, 400, 100), 250);  // one pixel, straddling the row edge
  EXPECT_EQ(alphaAt(thin, 400, 97), 0);
}

TEST(AnnotationRendererTest, BlurStrokesAreNotDrawnButListed) {
  const AnnotationStroke blur(AnnotationTool::blur, kRed, 0.004, {{0.8, 0.7}, {0.5, 0.5}, {0.2, 0.3}});
  const AnnotationStroke reversed(AnnotationTool::blur, kRed, 0.004, {{0.2, 0.3}, {0.8, 0.7}});
  const AnnotationStroke onePoint(AnnotationTool::blur, kRed, 0.004, {{0.2, 0.3}});
  const AnnotationStroke pen(AnnotationTool::pen, kRed, 0.004, {{0.2, 0.3}, {0.4, 0.4}});

  EXPECT_FALSE(AnnotationRenderer::render({blur, reversed, onePoint}, {1920, 1080}));
  // The box from the first to the last point, whichever way it was dragged.
  const Rect box{0.2, 0.3, 0.8 - 0.2, 0.7 - 0.3};
  EXPECT_EQ(AnnotationRenderer::blurRects({blur, pen, onePoint, reversed}), (std::vector<Rect>{box, box}));
}

TEST(AnnotationRendererTest, SizesUnderOnePixelRenderNothingAndExtremeValuesNeitherCrashNorHang) {
  const AnnotationStroke pen(AnnotationTool::pen, kRed, 0.004, {{0.5, 0.5}});
  for (Size size : {Size{0.5, 100}, Size{100, 0}, Size{NAN, 100}}) EXPECT_FALSE(AnnotationRenderer::render({pen}, size));
  EXPECT_FALSE(AnnotationRenderer::render({}, {100, 100}));
  const auto truncated = AnnotationRenderer::render({pen}, {100.9, 50.5}).value();
  EXPECT_EQ(std::pair(truncated.width(), truncated.height()), std::pair(100, 50));

  const double huge = 1e12;
  const std::vector<AnnotationStroke> strokes = {
      AnnotationStroke(AnnotationTool::pen, kRed, 1e6, {{0.5, 0.5}}),
      AnnotationStroke(AnnotationTool::pen, kRed, 0.02, {}),
      AnnotationStroke(AnnotationTool::line, kRed, -1, {{-huge, huge}, {huge, -huge}}),
      AnnotationStroke(AnnotationTool::arrow, kRed, 0, {{0.5, 0.5}, {0.5, 0.5}}),
      AnnotationStroke(AnnotationTool::ellipse, kRed, 0.01, {{0, 0}, {huge, 0.5}}),
      AnnotationStroke(AnnotationTool::rectangle, {-3, 7, NAN}, 0.01, {{0.1, 0.1}, {0.2, 0.2}}),
      AnnotationStroke(AnnotationTool::pen, kRed, NAN, {{NAN, 0.5}, {0.5, INFINITY}}),
  };
  for (const auto& stroke : strokes) AnnotationRenderer::render({stroke}, {64, 64});
  AnnotationRenderer::render(strokes, {1e9, 1e9});
}

}  // namespace
}  // namespace tolvane
