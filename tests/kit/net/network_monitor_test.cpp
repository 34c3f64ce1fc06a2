#include "kit/net/rtnetlink_network_monitor.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>

namespace tolvane {
namespace {

TEST(RtnetlinkNetworkMonitor, ReportsTheDefaultRouteOnStartAndStopsOnCancel) {
  std::promise<bool> first;
  RtnetlinkNetworkMonitor monitor;
  std::once_flag once;
  monitor.start([&](bool satisfied) { std::call_once(once, [&] { first.set_value(satisfied); }); });
  auto reported = first.get_future();
  ASSERT_EQ(reported.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(reported.get(), RtnetlinkNetworkMonitor::hasDefaultRoute().value_or(true));
  monitor.cancel();
  monitor.cancel();  // twice is harmless
}

}  // namespace
}  // namespace tolvane
