#include "app/capture/camera_preview_feed.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace tolvane {
namespace {

TEST(CameraPreviewFeedTest, CopiesKeepTheAspectAndNeverGrow) {
  struct Case {
    int width, height, side;
    Size expected;
  };
  for (const Case& c : {Case{1280, 720, 320, {569, 320}}, Case{480, 640, 320, {320, 427}},
                        Case{200, 100, 320, {200, 100}}, Case{4000, 2, 320, {4000, 2}},
                        Case{3, 9000, 1, {1, 3000}}, Case{0, 480, 320, {0, 0}}}) {
    EXPECT_EQ(CameraPreviewFeed::copySize(c.width, c.height, c.side), c.expected) << c.width << "x" << c.height;
  }
}

// Records what arrives; the first delivery can be held to keep the worker busy.
struct Receiver {
  void deliver(const VideoFrame& frame) {
    std::unique_lock lock(mutex);
    ++entered;
    changed.notify_all();
    changed.wait(lock, [&] { return !holding; });
    sizes.push_back({static_cast<double>(frame.width()), static_cast<double>(frame.height())});
    blues.push_back(frame.pixel(0, 0)[0]);
    ++delivered;
    changed.notify_all();
  }
  // The bound only keeps a broken feed from hanging the test.
  bool waitFor(const std::size_t& value, std::size_t count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return value >= count; });
  }
  void release() {
    std::lock_guard lock(mutex);
    holding = false;
    changed.notify_all();
  }

  std::mutex mutex;
  std::condition_variable changed;
  bool holding = true;
  std::size_t entered = 0;
  std::size_t delivered = 0;
  std::vector<Size> sizes;
  std::vector<int> blues;
};

// A camera picture whose blue channel tells it apart.
VideoFrame picture(std::uint8_t blue) {
  VideoFrame frame = VideoFrame::allocate(640, 480);
  frame.fill(blue, 10, 10, 255);
  return frame;
}

TEST(CameraPreviewFeedTest, KeepsOnlyTheNewestPictureAtTheRateAndStopsAtClose) {
  Receiver receiver;
  CameraPreviewFeed feed([&](const VideoFrame& frame) { receiver.deliver(frame); }, 120, 15);

  feed.offer(picture(1), 10.0);
  ASSERT_TRUE(receiver.waitFor(receiver.entered, 1));
  // While the first copy is held, a newer picture replaces the one waiting in the slot…
  feed.offer(picture(2), 10.1);
  feed.offer(picture(3), 10.2);
  // …unless it comes too soon after the last one taken.
  feed.offer(picture(4), 10.22);
  receiver.release();
  ASSERT_TRUE(receiver.waitFor(receiver.delivered, 2));

  feed.close();
  feed.offer(picture(5), 20.0);
  {
    std::lock_guard lock(receiver.mutex);
    EXPECT_EQ(receiver.blues, (std::vector<int>{1, 3}));
    EXPECT_EQ(receiver.sizes.front(), (Size{160, 120})) << "scaled down before it is handed over";
  }
}

}  // namespace
}  // namespace tolvane
