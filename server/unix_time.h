#pragma once

#include <chrono>
#include <cstdint>

namespace tolvane::server {

// The server keeps every time as whole Unix seconds (tokens, tickets and the database
// all speak in them).
inline int64_t unixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace tolvane::server
