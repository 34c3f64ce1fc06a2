#include "app/capture/bubble_layout.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/thrown.h"

namespace tolvane {
namespace {

TEST(BubbleLayoutTest, TheBubbleIsARoundedSquareClampedInSizeAndKeptInsideTheFrame) {
  const struct {
    BubbleLayout layout;
    Size frame;
    Rect expected;
  } cases[] = {
      {{}, {1920, 1080}, {133.4, 821, 194, 194}},  // lower left, 0.18
      {{{0, 1}, 0.5}, {1920, 1080}, {0, 648, 432, 432}},
      {{{0.5, 0.5}, 0.01}, {1920, 1080}, {917, 497, 86, 86}},     // at least 0.08
      {{{0.5, 0.5}, 1.0}, {1920, 1080}, {744, 324, 432, 432}},    // at most 0.4
      {{{0.5, 0.5}, NAN}, {1920, 1080}, {917, 497, 86, 86}},      // never NaN
      {{{0.5, 0.5}, 0.1}, {1920, 1085}, {905.5, 488, 109, 109}},  // 108.5 rounds away from zero
      {{{-5, 7}, 0.18}, {1920, 1080}, {0, 1080 - 194, 194, 194}},  // kept inside
  };
  for (const auto& [layout, frame, expected] : cases) {
    const Rect actual = layout.rect(frame);
    SCOPED_TRACE(layout.encode());
    EXPECT_DOUBLE_EQ(actual.x, expected.x);
    EXPECT_DOUBLE_EQ(actual.y, expected.y);
    EXPECT_DOUBLE_EQ(actual.width, expected.width);
    EXPECT_DOUBLE_EQ(actual.height, expected.height);
  }
}

TEST(BubbleLayoutTest, JSONRoundTripsAndRequiresBothKeys) {
  EXPECT_EQ(BubbleLayout({0.12, 0.85}, 0.18).encode(), R"({"centre":[0.12,0.85],"diameterFraction":0.18})");
  const BubbleLayout odd{{1.0 / 3.0, -2.5}, 0.123456789012345678};
  EXPECT_EQ(BubbleLayout::decode(odd.encode()), odd);

  for (const char* text :
       {R"({"centre":[0.5,0.5]})", R"({"diameterFraction":0.2})", R"({"centre":[0.5],"diameterFraction":0.2})",
        R"({"centre":[0.5,0.5],"diameterFraction":"big"})", "[]", "", "{\"centre\":"}) {
    EXPECT_TRUE(testing::thrownWhat<BubbleLayout::DecodingError>([&] { BubbleLayout::decode(text); })
                    .starts_with("Tolvane couldn't read the camera bubble layout: "))
        << text;
  }
}

}  // namespace
}  // namespace tolvane
