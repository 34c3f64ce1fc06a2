#include "kit/base/serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <vector>

namespace tolvane {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueueTest, RunsTasksInPostingOrderOnOneThread) {
  SerialQueue queue("q");
  std::vector<int> order;
  std::thread::id first;
  bool sameThread = true;
  for (int i = 0; i < 100; ++i) {
    queue.async([&, i] {
      if (i == 0) first = std::this_thread::get_id();
      sameThread = sameThread && std::this_thread::get_id() == first;
      order.push_back(i);
    });
  }
  queue.sync([] {});
  std::vector<int> expected(100);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(order, expected);
  EXPECT_TRUE(sameThread);
  EXPECT_NE(first, std::this_thread::get_id());
}

TEST(SerialQueueTest, SyncReturnsValuesPropagatesErrorsAndRunsInlineOnItsOwnThread) {
  SerialQueue queue("q");
  EXPECT_EQ(queue.sync([] { return 42; }), 42);
  EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
  // A nested sync from the queue's own thread would deadlock if it were queued.
  EXPECT_EQ(queue.sync([&] { return queue.sync([&] { return queue.isCurrent() ? 7 : 0; }); }), 7);
  EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueueTest, RepeatingTimerFiresUntilCancelledOrDestroyedAndMayOutliveItsQueue) {
  std::atomic<int> ticks{0};
  SerialQueue::Timer outliving;
  {
    SerialQueue queue("q");
    auto timer = queue.scheduleRepeating(5ms, [&] { ++ticks; });
    while (ticks.load() < 3) std::this_thread::sleep_for(1ms);
    timer.cancel();
    queue.sync([] {});  // a tick already in flight has finished
    const int after = ticks.load();
    { auto dropped = queue.scheduleRepeating(1ms, [&] { ++ticks; }); }
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(ticks.load(), after);
    EXPECT_FALSE(timer.isActive());
    outliving = queue.scheduleRepeating(1h, [] {});
  }
  outliving.cancel();
}

TEST(SerialQueueTest, DelayedTaskRunsAfterItsDelayAndShutdownRunsPostedTasks) {
  std::atomic<bool> delayedRan{false};
  std::atomic<int> plain{0};
  {
    SerialQueue queue("q");
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration waited{};
    queue.asyncAfter(20ms, [&] {
      waited = std::chrono::steady_clock::now() - start;
      delayedRan = true;
    });
    while (!delayedRan) std::this_thread::sleep_for(1ms);
    EXPECT_GE(waited, 20ms);
    for (int i = 0; i < 10; ++i) queue.async([&] { ++plain; });
  }
  EXPECT_EQ(plain.load(), 10);
}

}  // namespace
}  // namespace tolvane
