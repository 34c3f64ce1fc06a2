#include "app/capture/sources/paced_loop.h"

namespace tolvane {

void PacedLoop::start(double ticksPerSecond, std::function<bool()> tick) {
  tick_ = std::move(tick);
  {
    std::lock_guard lock(mutex_);
    stopping_ = false;
    ended_ = false;
  }
  running_ = true;
  auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(1.0 / ticksPerSecond));
  thread_ = std::thread([this, interval] { run(interval); });
}

void PacedLoop::requestStop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
}

bool PacedLoop::waitUntilEnded(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return wake_.wait_until(lock, deadline, [this] { return ended_; });
}

void PacedLoop::stop() {
  requestStop();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void PacedLoop::run(std::chrono::steady_clock::duration interval) {
  auto deadline = std::chrono::steady_clock::now();
  while (true) {
    {
      std::unique_lock lock(mutex_);
      if (wake_.wait_until(lock, deadline, [this] { return stopping_; })) break;
    }
    if (!tick_()) break;
    deadline += interval;
    auto now = std::chrono::steady_clock::now();
    if (deadline < now) deadline = now;  // skip missed ticks rather than bursting
  }
  running_ = false;
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
  }
  wake_.notify_all();
}

}  // namespace tolvane
