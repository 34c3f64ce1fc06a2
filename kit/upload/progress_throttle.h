#pragma once

#include <mutex>

#include "kit/base/iso8601.h"

namespace tolvane {

// Lets at most one progress report through per 2 seconds, so that a long upload does
// not rewrite its manifest for every chunk. Thread-safe.
class ProgressThrottle {
 public:
  static constexpr double interval = 2.0;  // seconds

  // True, and remembers `now`, when at least `interval` has passed since the last time
  // it answered true; the first call always answers true.
  bool shouldFire(Date now);

 private:
  std::mutex mutex_;
  Date last_ = Date::min();  // guarded by mutex_
};

}  // namespace tolvane
