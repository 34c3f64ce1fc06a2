#include <gtest/gtest.h>

#include <cmath>

#include "kit/media/frame_pool.h"
#include "kit/media/media_time.h"

namespace tolvane {
namespace {

// Comparisons are exact across timescales; conversions round to the nearest tick, halves
// away from zero.
TEST(MediaTimeTest, ComparesExactlyAndRoundsHalvesAwayFromZero) {
  EXPECT_EQ((MediaTime{96000, 48000}), (MediaTime{1200, 600}));
  EXPECT_LT((MediaTime{1, 600}), (MediaTime{81, 48000}));
  EXPECT_LT(MediaTime::invalid(), (MediaTime{-5, 600}));
  EXPECT_EQ(MediaTime::fromSeconds(0.00125, 600).value, 1);       // 0.75 tick
  EXPECT_EQ(MediaTime::fromSeconds(-0.0025 / 3, 600).value, -1);  // -0.5 tick
  EXPECT_FALSE(MediaTime::fromSeconds(NAN, 600).isValid());
  EXPECT_EQ((MediaTime{-1001, 48000}).convertedTo(600).value, -13);  // -12.5125 ticks
}

// Reuse is judged by FrameCompositorTest; a frame must stay valid once its pool is gone.
TEST(FramePoolTest, FramesMayOutliveThePool) {
  VideoFrame survivor;
  {
    FramePool pool(64, 32, 2);
    survivor = pool.acquire();
  }
  survivor.fill(9, 9, 9, 9);
  EXPECT_EQ(survivor.pixel(63, 31)[0], 9);
}

}  // namespace
}  // namespace tolvane
