#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

#include "server/unix_time.h"

namespace tolvane::server {

// Counts attempts per key (an address, an account) in a sliding window and says how long
// a caller must wait once `limit` attempts fall inside it. Used for wrong passwords and
// for unauthenticated requests that create rows.
class AttemptLimiter {
 public:
  AttemptLimiter(int limit, int64_t windowSeconds, UnixClock clock = unixNow)
      : limit_(limit), window_(windowSeconds), clock_(std::move(clock)) {}

  // Seconds until the next attempt under `key` is allowed; 0 when it is allowed now.
  int64_t retryAfter(const std::string& key);
  void record(const std::string& key);
  // Records the attempt when it is allowed; otherwise the wait, as retryAfter.
  int64_t take(const std::string& key);

 private:
  int64_t waitLocked(std::deque<int64_t>& times, int64_t now) const;

  int limit_;
  int64_t window_;
  UnixClock clock_;
  std::mutex mutex_;
  std::unordered_map<std::string, std::deque<int64_t>> attempts_;
};

}  // namespace tolvane::server
