#include "kit/upload/progress_throttle.h"

namespace tolvane {

bool ProgressThrottle::shouldFire(Date now) {
  std::lock_guard lock(mutex_);
  const bool first = last_ == Date::min();
  if (!first && std::chrono::duration<double>(now - last_).count() < interval) return false;
  last_ = now;
  return true;
}

}  // namespace tolvane
