#pragma once

#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "kit/base/file_descriptor.h"
#include "kit/base/log.h"
#include "kit/net/network_monitor.h"

namespace tolvane {

// The network monitor of Linux. The network counts as usable while the kernel has a
// route to the service's host: a server on loopback or on the LAN is reachable without
// any default route. A NETLINK_ROUTE socket subscribed to route, address and link
// changes says when to look again; every look resolves the host anew and asks the
// kernel for a route to each of its addresses. A host that does not resolve is judged
// by the default route instead, so that the upload itself reports what is wrong.
//
// Runs its own thread "tolvane-network"; cancel() (or destruction) ends it. When the
// socket cannot be opened (a sandbox without netlink), the network is reported usable
// once and never again, so uploads are not blocked by a missing monitor.
class RtnetlinkNetworkMonitor final : public NetworkMonitor {
 public:
  explicit RtnetlinkNetworkMonitor(std::string host);
  ~RtnetlinkNetworkMonitor() override;
  RtnetlinkNetworkMonitor(const RtnetlinkNetworkMonitor&) = delete;
  RtnetlinkNetworkMonitor& operator=(const RtnetlinkNetworkMonitor&) = delete;

  void start(Handler handler) override;
  void cancel() override;

  // Whether the kernel has a route to `host` (a name or an address) now; none when
  // that cannot be told (the name does not resolve and the routing table is unreadable).
  static std::optional<bool> hasRouteTo(const std::string& host);

 private:
  void run(const std::stop_token& stop, const Handler& handler, const FileDescriptor& events);

  std::string host_;
  std::mutex mutex_;
  std::jthread thread_;
  FileDescriptor wakeFd_;  // eventfd that interrupts the thread's poll on cancel()
  Logger log_{"upload"};
};

}  // namespace tolvane
