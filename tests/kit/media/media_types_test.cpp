#include <gtest/gtest.h>

#include <cmath>

#include "kit/media/frame_pool.h"
#include "kit/media/media_time.h"

namespace tolvane {
namespace {

TEST(MediaTimeTest, ComparesExactlyAcrossTimescales) {
  EXPECT_EQ((MediaTime{96000, 48000}), (MediaTime{1200, 600}));
  EXPECT_LT((MediaTime{1, 600}), (MediaTime{81, 48000}));
  EXPECT_GT((MediaTime{1, 600}), (MediaTime{79, 48000}));
  EXPECT_LT(MediaTime::invalid(), (MediaTime{-5, 600}));
  EXPECT_EQ(MediaTime::invalid(), MediaTime::invalid());
}

TEST(MediaTimeTest, SecondsRoundToTheNearestTickHalvesAwayFromZero) {
  EXPECT_EQ(MediaTime::fromSeconds(1.5, 600).value, 900);
  EXPECT_EQ(MediaTime::fromSeconds(0.00125, 600).value, 1);       // 0.75 tick
  EXPECT_EQ(MediaTime::fromSeconds(-0.0025 / 3, 600).value, -1);  // -0.5 tick
  EXPECT_FALSE(MediaTime::fromSeconds(NAN, 600).isValid());
  EXPECT_FALSE(MediaTime::fromSeconds(1.0, 0).isValid());
  EXPECT_DOUBLE_EQ((MediaTime{96000, 48000}).seconds(), 2.0);
  EXPECT_EQ((MediaTime{1001, 48000}).convertedTo(600).value, 13);  // 12.5125 ticks
  EXPECT_EQ((MediaTime{-1001, 48000}).convertedTo(600).value, -13);
}

TEST(FramePoolTest, ReleasedBuffersAreReusedAndFramesMayOutliveThePool) {
  VideoFrame survivor;
  {
    FramePool pool(64, 32, 2);
    for (int i = 0; i < 100; ++i) {
      auto a = pool.acquire();
      auto b = pool.acquire();
    }
    EXPECT_EQ(pool.allocationCount(), 2u);
    survivor = pool.acquire();
  }
  survivor.fill(9, 9, 9, 9);
  EXPECT_EQ(survivor.pixel(63, 31)[0], 9);
}

}  // namespace
}  // namespace tolvane
