#include "kit/net/rtnetlink_network_monitor.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <mutex>

#include <gtest/gtest.h>

namespace tolvane {
namespace {

// What a monitor watching `host` reports first: 1 online, 0 offline, -1 nothing in 10 s.
int firstReport(const std::string& host) {
  std::promise<bool> first;
  std::once_flag once;
  RtnetlinkNetworkMonitor monitor(host);
  monitor.start([&](bool satisfied) { std::call_once(once, [&] { first.set_value(satisfied); }); });
  auto reported = first.get_future();
  if (reported.wait_for(std::chrono::seconds(10)) != std::future_status::ready) return -1;
  return reported.get() ? 1 : 0;
}

bool bringLoopbackUp() {
  const FileDescriptor fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  if (::ioctl(fd.get(), SIOCGIFFLAGS, &request) != 0) return false;
  request.ifr_flags |= IFF_UP;
  return ::ioctl(fd.get(), SIOCSIFFLAGS, &request) == 0;
}

// A machine without any default route: a private network namespace that only has
// loopback. A service on loopback is reachable there; one on the internet is not.
TEST(RtnetlinkNetworkMonitor, OnlineMeansARouteToTheServiceHostNotADefaultRoute) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0 || !bringLoopbackUp()) ::_exit(77);
    ::_exit((firstReport("127.0.0.1") == 1 ? 1 : 0) | (firstReport("192.0.2.10") == 0 ? 2 : 0));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private network namespace here";
  EXPECT_EQ(status, W_EXITCODE(3, 0)) << "exit 3 says loopback counted as online (1) and an unroutable host as offline (2)";
}

// Run under ThreadSanitizer: the monitor's thread starting while start() still assigns it.
TEST(RtnetlinkNetworkMonitor, StartsAndCancelsCleanly) {
  for (int i = 0; i < 20; ++i) EXPECT_EQ(firstReport("127.0.0.1"), 1);
  RtnetlinkNetworkMonitor monitor("localhost");
  monitor.cancel();  // before start, and twice, is harmless
  monitor.cancel();
}

}  // namespace
}  // namespace tolvane
