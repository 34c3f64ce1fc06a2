#include "tests/integration/uploads/fault_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

namespace tolvane::testing {
namespace {

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(std::uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool sendAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    length -= std::size_t(sent);
  }
  return true;
}

}  // namespace

FaultProxy::FaultProxy(int targetPort) : targetPort_(targetPort) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 64) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("the fault proxy couldn't listen on loopback");
  }
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

FaultProxy::~FaultProxy() {
  stopping_ = true;
  ::shutdown(listenFd_, SHUT_RDWR);
  acceptThread_.join();
  ::close(listenFd_);
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    for (const int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
    threads = std::move(connections_);
  }
  for (auto& thread : threads) thread.join();
}

void FaultProxy::cutConnections(int count, std::int64_t everyBytes) {
  std::lock_guard lock(mutex_);
  cutEveryBytes_ = everyBytes;
  bytesSinceCut_ = 0;
  cutsLeft_ = count;
}

void FaultProxy::answerNext(int count, std::string requestPrefix, std::string response) {
  std::lock_guard lock(mutex_);
  answersLeft_ = count;
  answerPrefix_ = std::move(requestPrefix);
  answer_ = std::move(response);
}

void FaultProxy::acceptLoop() {
  while (!stopping_) {
    const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (stopping_) return;
      continue;
    }
    std::lock_guard lock(mutex_);
    if (dropNextConnection_) {
      dropNextConnection_ = false;
      ::close(client);
      continue;
    }
    openFds_.push_back(client);
    connections_.emplace_back([this, client] { serve(client); });
  }
}

void FaultProxy::serve(int client) {
  const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = loopback(targetPort_);
  const bool connected =
      server >= 0 && ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  if (connected) {
    std::lock_guard lock(mutex_);
    openFds_.push_back(server);
  }
  std::array<char, 65536> buffer{};
  bool open = connected;
  while (open && !stopping_) {
    std::array<pollfd, 2> fds{pollfd{client, POLLIN, 0}, pollfd{server, POLLIN, 0}};
    if (::poll(fds.data(), fds.size(), 200) < 0) break;
    for (int side = 0; side < 2 && open; ++side) {
      if ((fds[std::size_t(side)].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const int from = side == 0 ? client : server;
      const int to = side == 0 ? server : client;
      const ssize_t received = ::recv(from, buffer.data(), buffer.size(), 0);
      if (received <= 0) {
        open = false;
        break;
      }
      std::size_t forward = std::size_t(received);
      bool cut = false;
      if (side == 0) {
        std::lock_guard lock(mutex_);
        if (answersLeft_ > 0 && std::string_view(buffer.data(), forward).starts_with(answerPrefix_)) {
          --answersLeft_;
          sendAll(client, answer_.data(), answer_.size());  // instead of the server
          forward = 0;
          cut = true;
        } else if (cutsLeft_ > 0) {
          const std::int64_t room = cutEveryBytes_ - bytesSinceCut_;
          if (std::int64_t(forward) >= room) {
            forward = std::size_t(std::max<std::int64_t>(room, 0));
            cut = true;
            dropNextConnection_ = true;
            bytesSinceCut_ = 0;
            --cutsLeft_;
          } else {
            bytesSinceCut_ += std::int64_t(forward);
          }
        }
      }
      if (!sendAll(to, buffer.data(), forward) || cut) open = false;
    }
  }
  {
    std::lock_guard lock(mutex_);
    std::erase(openFds_, client);
    std::erase(openFds_, server);
  }
  if (server >= 0) ::close(server);
  ::close(client);
}

}  // namespace tolvane::testing
