#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace tolvane {

// Stops capture sources within a deadline. A source's stop() waits for its thread, and
// that thread may be stuck in a call that never returns (a stopped X server, a sound
// server or camera driver that hangs); quitting must not wait for it. Each source is
// therefore handed over to a thread of its own, which stops it and then destroys it.
// A source still stopping at the deadline is abandoned to that thread: the caller never
// touches it again, and it is destroyed if its stop() ever returns.
class SourceShutdown {
 public:
  // Takes ownership of `source` (none is fine).
  template <typename Source>
  void add(std::unique_ptr<Source> source) {
    if (!source) return;
    std::shared_ptr<Source> owned = std::move(source);
    stops_.push_back([owned]() mutable {
      owned->stop();
      owned.reset();
    });
  }

  // Stops every source added, all at once, and waits for them until `deadline`. Returns
  // how many were abandoned.
  int run(std::chrono::steady_clock::time_point deadline);

 private:
  std::vector<std::function<void()>> stops_;
};

}  // namespace tolvane
