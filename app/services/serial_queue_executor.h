#pragma once

#include <functional>
#include <string>

#include "app/services/executor.h"
#include "kit/base/serial_queue.h"

namespace tolvane {

// The command line's executor: one thread of its own runs the posted tasks in order, so
// a receiver (a progress bar, a report) is only ever touched from that thread.
class SerialQueueExecutor final : public Executor {
 public:
  explicit SerialQueueExecutor(std::string label) : queue_(std::move(label)) {}

  void post(std::function<void()> task) override { queue_.async(std::move(task)); }

  // Runs `fn` on the executor's thread after everything posted before it, and waits.
  template <typename Fn>
  auto sync(Fn&& fn) {
    return queue_.sync(std::forward<Fn>(fn));
  }

 private:
  SerialQueue queue_;
};

}  // namespace tolvane
