#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/capture/sources/capture_source_error.h"

namespace tolvane::testing {

// Collects what a capture source delivers on its own threads, for a test to wait on.
template <typename Item>
class SourceCollector {
 public:
  void add(Item item) {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(item));
    changed_.notify_all();
  }
  std::function<void(const Item&)> handler() {
    return [this](const Item& item) { add(item); };
  }
  // Waits, for a generous 20 s at most, until everything collected so far satisfies `done`.
  bool waitUntil(const std::function<bool(const std::vector<Item>&)>& done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return done(items_); });
  }
  // Everything collected, once there are `atLeast` items or the wait ran out.
  std::vector<Item> items(std::size_t atLeast = 0) {
    waitUntil([&](const std::vector<Item>& all) { return all.size() >= atLeast; });
    std::lock_guard lock(mutex_);
    return items_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Item> items_;
};

// The kind and message of the CaptureSourceError that `open` throws, so that one
// comparison checks both; a message saying so when it throws none.
template <typename F>
std::pair<CaptureSourceError::Kind, std::string> sourceError(F&& open) {
  try {
    open();
  } catch (const CaptureSourceError& error) {
    return {error.kind(), error.what()};
  }
  return {CaptureSourceError::Kind::streamFailed, "no error"};
}

}  // namespace tolvane::testing
