#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace tolvane::server {

// The server keeps every time as whole Unix seconds (tokens, tickets and the database
// all speak in them).
inline int64_t unixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Where a class that decides by the time reads it; tests pass a clock they move by hand.
using UnixClock = std::function<int64_t()>;

}  // namespace tolvane::server
