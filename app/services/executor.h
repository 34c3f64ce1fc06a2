#pragma once

#include <functional>

namespace tolvane {

// Where a receiver wants its callbacks to run. The services never call a receiver on a
// thread of the kit; they post the call here. The command line posts to a serial queue,
// the desktop application to its GUI thread.
class Executor {
 public:
  virtual ~Executor() = default;
  // Runs `task` later, in the order tasks were posted. Must not run it inline: the
  // poster may hold locks of its own.
  virtual void post(std::function<void()> task) = 0;
};

}  // namespace tolvane
