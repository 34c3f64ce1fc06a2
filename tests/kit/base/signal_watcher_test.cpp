#include "kit/base/signal_watcher.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace tolvane {
namespace {

using namespace std::chrono_literals;

TEST(SignalWatcher, SignalsArriveAsEventsAndWakeEndsAWaitFromAnotherThread) {
  SignalWatcher watcher{SIGUSR1, SIGUSR2};
  EXPECT_EQ(watcher.wait(0ms), std::nullopt);
  std::raise(SIGUSR1);  // would end the process if it were not blocked and watched
  EXPECT_EQ(watcher.wait(1000ms), SIGUSR1);
  std::raise(SIGUSR2);
  EXPECT_EQ(watcher.wait(1000ms), SIGUSR2);

  std::thread waker([&] { watcher.wake(); });
  EXPECT_EQ(watcher.wait(60s), std::nullopt);  // returns at the wake, long before a minute
  waker.join();
}

}  // namespace
}  // namespace tolvane
