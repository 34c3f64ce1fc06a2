#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

#include "kit/base/file_descriptor.h"
#include "kit/base/log.h"
#include "kit/net/network_monitor.h"

namespace tolvane {

// The network monitor of Linux: a NETLINK_ROUTE socket subscribed to IPv4 and IPv6
// route changes and link changes. The network counts as usable while the main routing
// table holds a default route of either family; after every notification the table is
// read again and the handler told the result.
//
// Runs its own thread "com.tolvanelabs.Tolvane.network"; cancel() (or destruction) ends it.
// When the socket cannot be opened (a sandbox without netlink), the network is reported
// usable once and never again, so uploads are not blocked by a missing monitor.
class RtnetlinkNetworkMonitor final : public NetworkMonitor {
 public:
  RtnetlinkNetworkMonitor() = default;
  ~RtnetlinkNetworkMonitor() override;
  RtnetlinkNetworkMonitor(const RtnetlinkNetworkMonitor&) = delete;
  RtnetlinkNetworkMonitor& operator=(const RtnetlinkNetworkMonitor&) = delete;

  void start(Handler handler) override;
  void cancel() override;

  // Whether the main routing table holds a default route now; none when the table
  // cannot be read.
  static std::optional<bool> hasDefaultRoute();

 private:
  void run(Handler handler, FileDescriptor events);

  std::mutex mutex_;
  std::jthread thread_;
  FileDescriptor wakeFd_;  // eventfd that interrupts the thread's poll on cancel()
  Logger log_{"upload"};
};

}  // namespace tolvane
