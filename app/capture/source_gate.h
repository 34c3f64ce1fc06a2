#pragma once

#include <mutex>

namespace tolvane {

// The door between capture sources and the engine. The handlers the engine gives its
// sources hold the gate, not the engine, and call into the engine only through pass().
// Once the engine has closed it nothing passes, so a source that had to be abandoned
// because its stop() hung may wake up later and deliver into a closed gate instead of
// into an engine that is gone.
class SourceGate {
 public:
  // Runs `fn` unless the gate is closed. `fn` must not block (it posts work to a queue).
  template <typename Fn>
  void pass(Fn&& fn) {
    std::lock_guard lock(mutex_);
    if (!closed_) fn();
  }

  // When it returns, no handler is inside the gate and none will enter it.
  void close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }

 private:
  std::mutex mutex_;
  bool closed_ = false;
};

}  // namespace tolvane
