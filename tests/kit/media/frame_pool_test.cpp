#include "kit/media/frame_pool.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

TEST(FramePoolTest, RowsAreAlignedAndCopiesShareThePixels) {
  auto frame = VideoFrame::allocate(33, 4);
  EXPECT_EQ(frame.stride() % 64, 0);
  EXPECT_GE(frame.stride(), 33 * 4);
  auto copy = frame;
  frame.fill(1, 2, 3, 255);
  EXPECT_EQ(copy.pixel(32, 3)[2], 3);
}

TEST(FramePoolTest, ReleasedBuffersAreReusedAndFramesMayOutliveThePool) {
  VideoFrame survivor;
  {
    FramePool pool(64, 32, 2);
    for (int i = 0; i < 100; ++i) {
      auto a = pool.acquire();
      auto b = pool.acquire();
      a.fill(0, 0, 0, 0);
    }
    EXPECT_EQ(pool.allocationCount(), 2u);
    survivor = pool.acquire();
  }
  survivor.fill(9, 9, 9, 9);
  EXPECT_EQ(survivor.pixel(63, 31)[0], 9);
}

}  // namespace
}  // namespace tolvane
