#include "kit/net/rtnetlink_network_monitor.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

// The netlink walking macros are C casts.
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wcast-align"

namespace tolvane {
namespace {

FileDescriptor openRouteSocket(std::uint32_t groups) {
  FileDescriptor fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
  if (!fd.isOpen()) return fd;
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = groups;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return FileDescriptor();
  return fd;
}

// The table a route belongs to: RTA_TABLE when present (tables above 255), else the
// header's field.
std::uint32_t routeTable(const nlmsghdr* message, const rtmsg* route) {
  int length = int(RTM_PAYLOAD(message));
  for (const rtattr* attribute = RTM_RTA(route); RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
    if (attribute->rta_type == RTA_TABLE) {
      std::uint32_t table = 0;
      std::memcpy(&table, RTA_DATA(attribute), sizeof table);
      return table;
    }
  }
  return route->rtm_table;
}

bool isDefaultRoute(const nlmsghdr* message) {
  if (message->nlmsg_type != RTM_NEWROUTE) return false;
  const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(message));
  return route->rtm_dst_len == 0 && route->rtm_type == RTN_UNICAST && routeTable(message, route) == RT_TABLE_MAIN;
}

// Dumps the routes of one family; true/false for the presence of a default route.
std::optional<bool> familyHasDefaultRoute(int fd, unsigned char family, std::uint32_t sequence) {
  struct {
    nlmsghdr header;
    rtmsg route;
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  request.header.nlmsg_type = RTM_GETROUTE;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = sequence;
  request.route.rtm_family = family;
  if (::send(fd, &request, request.header.nlmsg_len, 0) < 0) return std::nullopt;

  bool found = false;
  alignas(nlmsghdr) std::array<char, 16384> buffer{};
  for (;;) {
    const ssize_t received = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) return std::nullopt;
    int length = int(received);
    for (auto* message = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(message, length);
         message = NLMSG_NEXT(message, length)) {
      if (message->nlmsg_seq != sequence) continue;
      if (message->nlmsg_type == NLMSG_DONE) return found;
      if (message->nlmsg_type == NLMSG_ERROR) return std::nullopt;
      found = found || isDefaultRoute(message);
    }
  }
}

// The main table holds a default route of either family; none when it cannot be read.
std::optional<bool> hasDefaultRoute() {
  const FileDescriptor fd = openRouteSocket(0);
  if (!fd.isOpen()) return std::nullopt;
  const auto v4 = familyHasDefaultRoute(fd.get(), AF_INET, 1);
  if (v4 == true) return true;
  const auto v6 = familyHasDefaultRoute(fd.get(), AF_INET6, 2);
  if (!v4 && !v6) return std::nullopt;
  return v6.value_or(false);
}

// Connecting a UDP socket sends nothing: the kernel only looks up the route and fails
// with ENETUNREACH (or EHOSTUNREACH) when it has none.
bool kernelRoutes(const addrinfo& address) {
  const FileDescriptor fd(::socket(address.ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  return fd.isOpen() && ::connect(fd.get(), address.ai_addr, address.ai_addrlen) == 0;
}

}  // namespace

RtnetlinkNetworkMonitor::RtnetlinkNetworkMonitor(std::string host) : host_(std::move(host)) {}

RtnetlinkNetworkMonitor::~RtnetlinkNetworkMonitor() { cancel(); }

std::optional<bool> RtnetlinkNetworkMonitor::hasRouteTo(const std::string& host) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  // Any port will do: nothing is sent.
  if (::getaddrinfo(host.c_str(), "443", &hints, &found) != 0 || found == nullptr) return hasDefaultRoute();
  bool routed = false;
  for (const addrinfo* address = found; address != nullptr && !routed; address = address->ai_next) {
    routed = kernelRoutes(*address);
  }
  ::freeaddrinfo(found);
  return routed;
}

void RtnetlinkNetworkMonitor::start(Handler handler) {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return;
  FileDescriptor socket = openRouteSocket(RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_LINK |
                                          RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR);
  if (!socket.isOpen()) {
    log_.error("can't watch the network ({}); assuming it is available", std::strerror(errno));
    handler(true);
    return;
  }
  wakeFd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  // The thread takes its stop token as an argument: reading thread_ from inside it would
  // race with this assignment.
  thread_ = std::jthread([this, handler = std::move(handler), socket = std::move(socket)](std::stop_token stop) {
    run(stop, handler, socket);
  });
}

void RtnetlinkNetworkMonitor::cancel() {
  std::lock_guard lock(mutex_);
  if (!thread_.joinable()) return;
  thread_.request_stop();
  const std::uint64_t one = 1;
  if (wakeFd_.isOpen() && ::write(wakeFd_.get(), &one, sizeof one) < 0) {
    // The stop request alone still ends the thread at its next wake-up.
  }
  thread_.join();
  wakeFd_.reset();
}

void RtnetlinkNetworkMonitor::run(const std::stop_token& stop, const Handler& handler, const FileDescriptor& events) {
  pthread_setname_np(pthread_self(), "tolvane-network");
  const auto report = [&] {
    // A table that cannot be read says nothing about the network: keep the uploads going.
    handler(hasRouteTo(host_).value_or(true));
  };
  report();
  alignas(nlmsghdr) std::array<char, 16384> buffer{};
  while (!stop.stop_requested()) {
    std::array<pollfd, 2> fds{pollfd{events.get(), POLLIN, 0}, pollfd{wakeFd_.get(), POLLIN, 0}};
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (stop.stop_requested() || (fds[1].revents & POLLIN) != 0) break;
    if ((fds[0].revents & POLLIN) == 0) continue;
    // Drain everything queued: one re-read of the table answers any number of changes.
    // ENOBUFS (notifications lost) also just means "read the table again".
    for (;;) {
      const ssize_t received = ::recv(events.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (received > 0 || (received < 0 && (errno == ENOBUFS || errno == EINTR))) continue;
      break;
    }
    report();
  }
}

}  // namespace tolvane
