#include "kit/base/serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <vector>

namespace tolvane {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueueTest, RunsTasksInPostingOrderOnOneThreadShutdownRunsWhatWasPostedAndSyncReturnsValuesAndErrors) {
  std::vector<std::pair<int, std::thread::id>> ran;
  {
    SerialQueue queue("q");
    for (int i = 0; i < 100; ++i) queue.async([&, i] { ran.emplace_back(i, std::this_thread::get_id()); });
  }
  ASSERT_EQ(ran.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(ran[i], std::pair(i, ran[0].second));
  EXPECT_NE(ran[0].second, std::this_thread::get_id());

  // sync returns values, propagates errors and runs inline on the queue's own thread.
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
    outliving = queue.scheduleRepeating(1h, [] {});
  }
  outliving.cancel();
}

// A queue may be shut down by its own task or by two threads at once: what was posted
// before still runs, later posts are dropped, and no caller returns before the thread stops.
TEST(SerialQueueTest, ShutdownFromItsOwnTaskOrTwoThreadsAtOnceFinishesWhatWasPosted) {
  std::atomic<int> ran{0};
  {
    SerialQueue queue("q");
    std::promise<void> posted;
    std::promise<void> shutDown;
    queue.async([&] {
      posted.get_future().wait();
      queue.shutdown();
      shutDown.set_value();
    });
    queue.async([&] {
      std::this_thread::sleep_for(20ms);  // still running when the destructor begins
      ++ran;
    });
    posted.set_value();
    shutDown.get_future().wait();
    queue.async([&] { ran += 100; });
  }
  EXPECT_EQ(ran.load(), 1);

  SerialQueue queue("q");
  queue.async([&] { std::this_thread::sleep_for(20ms); });  // both callers wait for it
  {
    std::jthread first([&] { queue.shutdown(); });
    std::jthread second([&] { queue.shutdown(); });
  }
  EXPECT_THROW(queue.sync([] {}), std::runtime_error);
}

// The task that held the last reference to its queue destroys it on the queue's thread.
TEST(SerialQueueTest, ATaskReleasingTheLastOwnerOfItsQueueLetsTheQueueFinish) {
  std::promise<void> gate;
  std::promise<void> lastRan;
  auto queue = std::make_shared<SerialQueue>("q");
  queue->async([owner = queue, opened = gate.get_future().share()] { opened.wait(); });
  queue->async([&lastRan] { lastRan.set_value(); });
  queue.reset();
  gate.set_value();
  EXPECT_EQ(lastRan.get_future().wait_for(20s), std::future_status::ready);
}

}  // namespace
}  // namespace tolvane
