#include "app/capture/source_shutdown.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace tolvane {

int SourceShutdown::run(std::chrono::steady_clock::time_point deadline) {
  // Shared with the stopping threads, which may outlive this call.
  struct Progress {
    std::mutex mutex;
    std::condition_variable done;
    int remaining = 0;
  };
  auto progress = std::make_shared<Progress>();
  progress->remaining = static_cast<int>(stops_.size());
  for (auto& stop : stops_) {
    auto job = std::make_shared<std::function<void()>>(std::move(stop));
    auto stopAndCount = [progress, job] {
      (*job)();
      *job = nullptr;  // the source goes away here, on its own thread
      std::lock_guard lock(progress->mutex);
      --progress->remaining;
      progress->done.notify_all();
    };
    try {
      std::thread(stopAndCount).detach();
    } catch (const std::system_error&) {
      stopAndCount();  // no thread to be had: stopping in place is all that is left
    }
  }
  stops_.clear();
  std::unique_lock lock(progress->mutex);
  progress->done.wait_until(lock, deadline, [&] { return progress->remaining == 0; });
  return progress->remaining;
}

}  // namespace tolvane
