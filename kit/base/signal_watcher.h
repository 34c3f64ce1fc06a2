#pragma once

#include <chrono>
#include <csignal>
#include <initializer_list>
#include <optional>

#include "kit/base/file_descriptor.h"

namespace tolvane {

// Turns signals into events read on one thread: the signals are blocked for the whole
// process and read from a signalfd, so no work happens inside a signal handler. The
// command line waits on it; the desktop application watches fd() from its event loop.
// Construct it before any other thread starts, so that every thread inherits the
// blocked mask; the previous mask is restored when it goes away.
class SignalWatcher {
 public:
  explicit SignalWatcher(std::initializer_list<int> caught);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // The next signal that arrived, waiting at most `timeout`; none when none came.
  std::optional<int> wait(std::chrono::milliseconds timeout);
  // Makes a waiting (or the next) wait() return early, from any thread.
  void wake();

  // For an event loop: the descriptor becomes readable when a signal is pending, and
  // readPending() then takes it without waiting.
  int fd() const { return signalFd_.get(); }
  std::optional<int> readPending();

 private:
  sigset_t previousMask_{};
  FileDescriptor signalFd_;
  FileDescriptor wakeFd_;  // an eventfd
};

}  // namespace tolvane
