#include "kit/base/signal_watcher.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace tolvane {

SignalWatcher::SignalWatcher(std::initializer_list<int> signals) {
  sigset_t mask;
  sigemptyset(&mask);
  for (int signal : signals) sigaddset(&mask, signal);
  pthread_sigmask(SIG_BLOCK, &mask, &previousMask_);
  signalFd_.reset(signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK));
  wakeFd_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!signalFd_.isOpen() || !wakeFd_.isOpen()) throw std::runtime_error("Tolvane couldn't watch for signals.");
}

SignalWatcher::~SignalWatcher() { pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr); }

std::optional<int> SignalWatcher::wait(std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{signalFd_.get(), POLLIN, 0}, {wakeFd_.get(), POLLIN, 0}};
  int ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
  if (ready <= 0) return std::nullopt;
  if ((fds[1].revents & POLLIN) != 0) {
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t ignored = ::read(wakeFd_.get(), &count, sizeof count);
  }
  if ((fds[0].revents & POLLIN) != 0) return readPending();
  return std::nullopt;
}

std::optional<int> SignalWatcher::readPending() {
  signalfd_siginfo info{};
  if (::read(signalFd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    return static_cast<int>(info.ssi_signo);
  }
  return std::nullopt;
}

void SignalWatcher::wake() {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = ::write(wakeFd_.get(), &one, sizeof one);
}

}  // namespace tolvane
