#include "kit/upload/rtnetlink_network_monitor.h"

#include <gtest/gtest.h>

#include <condition_variable>

namespace tolvane {
namespace {

TEST(RtnetlinkNetworkMonitor, ReportsTheDefaultRouteOnStartAndStopsOnCancel) {
  std::mutex mutex;
  std::condition_variable reported;
  std::vector<bool> reports;
  RtnetlinkNetworkMonitor monitor;
  monitor.start([&](bool satisfied) {
    std::lock_guard lock(mutex);
    reports.push_back(satisfied);
    reported.notify_all();
  });
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(reported.wait_for(lock, std::chrono::seconds(10), [&] { return !reports.empty(); }));
    EXPECT_EQ(reports.front(), RtnetlinkNetworkMonitor::hasDefaultRoute().value_or(true));
  }
  monitor.cancel();
  monitor.cancel();  // twice is harmless
}

}  // namespace
}  // namespace tolvane
