#include "app/capture/bubble_layout.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tolvane {
namespace {

void expectRect(const Rect& actual, const Rect& expected) {
  EXPECT_DOUBLE_EQ(actual.x, expected.x);
  EXPECT_DOUBLE_EQ(actual.y, expected.y);
  EXPECT_DOUBLE_EQ(actual.width, expected.width);
  EXPECT_DOUBLE_EQ(actual.height, expected.height);
}

TEST(BubbleLayoutTest, DocumentedExamples) {
  const BubbleLayout standard;  // lower left, 0.18
  expectRect(standard.rect({1920, 1080}), {133.4, 821, 194, 194});
  expectRect(standard.rect({2560, 1440}), {177.7, 1094.5, 259, 259});
  expectRect(BubbleLayout{{0, 1}, 0.5}.rect({1920, 1080}), {0, 648, 432, 432});
  expectRect(BubbleLayout{{0.5, 0.5}, 0.01}.rect({1920, 1080}), {917, 497, 86, 86});
}

TEST(BubbleLayoutTest, DiameterIsClampedAndNeverNaN) {
  const Size frame{1920, 1080};
  EXPECT_EQ(BubbleLayout({0.5, 0.5}, 1.0).rect(frame), BubbleLayout({0.5, 0.5}, 0.4).rect(frame));
  EXPECT_EQ(BubbleLayout({0.5, 0.5}, 0).rect(frame), BubbleLayout({0.5, 0.5}, 0.08).rect(frame));
  EXPECT_EQ(BubbleLayout({0.5, 0.5}, -3).rect(frame), BubbleLayout({0.5, 0.5}, 0.08).rect(frame));
  EXPECT_EQ(BubbleLayout({0.5, 0.5}, NAN).rect(frame), BubbleLayout({0.5, 0.5}, 0.08).rect(frame));
  // Halves round away from zero: 0.1 x 1085 = 108.5 -> 109.
  EXPECT_DOUBLE_EQ(BubbleLayout({0.5, 0.5}, 0.1).rect({1920, 1085}).width, 109);
}

TEST(BubbleLayoutTest, TheBubbleNeverLeavesTheFrame) {
  expectRect(BubbleLayout({-5, 7}, 0.18).rect({1920, 1080}), {0, 1080 - 194, 194, 194});
  expectRect(BubbleLayout({9, -9}, 0.18).rect({1920, 1080}), {1920 - 194, 0, 194, 194});
}

TEST(BubbleLayoutTest, JSONRoundTripsAndRequiresBothKeys) {
  const auto decoded = BubbleLayout::decode(R"({"centre":[0.12,0.85],"diameterFraction":0.18})");
  EXPECT_EQ(decoded, BubbleLayout({0.12, 0.85}, 0.18));
  EXPECT_EQ(decoded.encode(), R"({"centre":[0.12,0.85],"diameterFraction":0.18})");
  const BubbleLayout odd{{1.0 / 3.0, -2.5}, 0.123456789012345678};
  EXPECT_EQ(BubbleLayout::decode(odd.encode()), odd);

  for (const char* text : {R"({"centre":[0.5,0.5]})", R"({"diameterFraction":0.2})", R"({"centre":[0.5],"diameterFraction":0.2})",
                           R"({"centre":{"x":0.5,"y":0.5},"diameterFraction":0.2})",
                           R"({"centre":[0.5,0.5],"diameterFraction":"big"})", "[]", "", "{\"centre\":"}) {
    try {
      BubbleLayout::decode(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const BubbleLayout::DecodingError& error) {
      EXPECT_EQ(std::string(error.what()).rfind("Tolvane couldn't read the camera bubble layout: ", 0), 0u);
    }
  }
}

}  // namespace
}  // namespace tolvane
