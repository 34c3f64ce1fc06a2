#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tolvane {

// A thread that runs `tick` at a steady rate until stopped or until `tick` returns false.
// Ticks are scheduled on absolute deadlines so the rate does not drift; a tick that runs
// late is not repeated to catch up.
class PacedLoop {
 public:
  PacedLoop() = default;
  ~PacedLoop() { stop(); }
  PacedLoop(const PacedLoop&) = delete;
  PacedLoop& operator=(const PacedLoop&) = delete;

  void start(double ticksPerSecond, std::function<bool()> tick);
  // Waits for the tick in progress; when it returns no tick runs any more. Idempotent;
  // may be called from `tick` itself (the loop then just ends).
  void stop();
  // Asks the loop to end after the tick in progress, without waiting for it.
  void requestStop();
  // Whether the loop has ended (or never started) by `deadline`; a tick stuck in a call
  // that never returns keeps it running, and the owner can then break that call.
  bool waitUntilEnded(std::chrono::steady_clock::time_point deadline);
  bool isRunning() const { return running_.load(); }

 private:
  void run(std::chrono::steady_clock::duration interval);

  std::function<bool()> tick_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool ended_ = true;  // guarded by mutex_
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace tolvane
