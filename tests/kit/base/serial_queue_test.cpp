#include "kit/base/serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <set>
#include <vector>

namespace tolvane {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueueTest, RunsTasksInPostingOrderOnOneThreadAndShutdownRunsWhatWasPosted) {
  std::vector<int> order;
  std::set<std::thread::id> threads;
  {
    SerialQueue queue("q");
    for (int i = 0; i < 100; ++i) {
      queue.async([&, i] {
        threads.insert(std::this_thread::get_id());
        order.push_back(i);
      });
    }
  }
  std::vector<int> expected(100);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(order, expected);
  ASSERT_EQ(threads.size(), 1u);
  EXPECT_NE(*threads.begin(), std::this_thread::get_id());
}

TEST(SerialQueueTest, SyncReturnsValuesPropagatesErrorsAndRunsInlineOnItsOwnThread) {
  SerialQueue queue("q");
  EXPECT_EQ(queue.sync([] { return 42; }), 42);
  EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
  // A nested sync from the queue's own thread would deadlock if it were queued.
  EXPECT_EQ(queue.sync([&] { return queue.sync([&] { return queue.isCurrent() ? 7 : 0; }); }), 7);
  EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueueTest, TimersFireUntilCancelledOrDestroyedAndMayOutliveTheirQueue) {
  std::atomic<int> ticks{0};
  std::atomic<bool> delayedRan{false};
  SerialQueue::Timer outliving;
  {
    SerialQueue queue("q");
    queue.asyncAfter(1ms, [&] { delayedRan = true; });
    auto timer = queue.scheduleRepeating(1ms, [&] { ++ticks; });
    while (ticks.load() < 3 || !delayedRan) std::this_thread::sleep_for(1ms);
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

}  // namespace
}  // namespace tolvane
