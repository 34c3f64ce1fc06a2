#include "server/attempt_limiter.h"

namespace tolvane::server {
namespace {

// Beyond this many keys, keys whose attempts all left the window are forgotten, so
// requests from ever new addresses cannot grow the table without bound.
constexpr std::size_t kPruneAbove = 10000;

}  // namespace

int64_t AttemptLimiter::waitLocked(std::deque<int64_t>& times, int64_t now) const {
  while (!times.empty() && times.front() + window_ <= now) times.pop_front();
  if (int(times.size()) < limit_) return 0;
  return times.front() + window_ - now;
}

int64_t AttemptLimiter::retryAfter(const std::string& key) {
  std::lock_guard lock(mutex_);
  const auto found = attempts_.find(key);
  return found == attempts_.end() ? 0 : waitLocked(found->second, clock_());
}

void AttemptLimiter::record(const std::string& key) {
  std::lock_guard lock(mutex_);
  const int64_t now = clock_();
  if (attempts_.size() > kPruneAbove) {
    for (auto entry = attempts_.begin(); entry != attempts_.end();) {
      waitLocked(entry->second, now);
      entry = entry->second.empty() ? attempts_.erase(entry) : std::next(entry);
    }
  }
  auto& times = attempts_[key];
  waitLocked(times, now);
  times.push_back(now);
}

int64_t AttemptLimiter::take(const std::string& key) {
  std::lock_guard lock(mutex_);
  const int64_t now = clock_();
  auto& times = attempts_[key];
  const int64_t wait = waitLocked(times, now);
  if (wait == 0) times.push_back(now);
  return wait;
}

}  // namespace tolvane::server
