#include "app/capture/camera_preview_feed.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
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

// Records what arrives; the first delivery is held until release(), keeping the worker busy.
struct Receiver {
  void deliver(const VideoFrame& frame) {
    std::unique_lock lock(mutex);
    ++entered;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
    blues.push_back(frame.pixel(0, 0)[0]);
    if (blues.size() == 1) firstSize = {static_cast<double>(frame.width()), static_cast<double>(frame.height())};
    changed.notify_all();
  }
  // The bound only keeps a broken feed from hanging the test.
  bool waitFor(const std::function<bool()>& done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), done);
  }

  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;
  int entered = 0;
  std::vector<int> blues;
  Size firstSize;
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
  ASSERT_TRUE(receiver.waitFor([&] { return receiver.entered == 1; }));
  // While the first copy is held, a newer picture replaces the one waiting in the slot…
  feed.offer(picture(2), 10.1);
  feed.offer(picture(3), 10.2);
  // …unless it comes too soon after the last one taken.
  feed.offer(picture(4), 10.22);
  {
    std::lock_guard lock(receiver.mutex);
    receiver.released = true;
    receiver.changed.notify_all();
  }
  ASSERT_TRUE(receiver.waitFor([&] { return receiver.blues.size() == 2; }));

  feed.close();
  feed.offer(picture(5), 20.0);
  {
    std::lock_guard lock(receiver.mutex);
    EXPECT_EQ(receiver.blues, (std::vector<int>{1, 3}));
    EXPECT_EQ(receiver.firstSize, (Size{160, 120})) << "scaled down before it is handed over";
  }
}

}  // namespace
}  // namespace tolvane
