#pragma once

#include <chrono>

namespace tolvane {

// Seconds on CLOCK_MONOTONIC: the host time base every capture timestamp is taken on.
inline double monotonicSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace tolvane
