#include "kit/base/serial_queue.h"

#include <pthread.h>

namespace tolvane {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
  std::promise<std::thread::id> started;
  auto startedFuture = started.get_future();
  thread_ = std::thread([this, &started] {
    // Linux thread names are limited to 15 characters; keep the most specific tail.
    std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    pthread_setname_np(pthread_self(), name.c_str());
    started.set_value(std::this_thread::get_id());
    run();
  });
  threadID_ = startedFuture.get();
}

SerialQueue::~SerialQueue() { shutdown(); }

void SerialQueue::shutdown() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && !thread_.joinable()) return;
    stopping_ = true;
  }
  wake_.notify_all();
  if (!thread_.joinable()) return;
  // A queue shut down from one of its own tasks cannot wait for itself; its thread
  // leaves the loop once the current task returns.
  if (isCurrent()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

bool SerialQueue::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
  return true;
}

void SerialQueue::async(Task task) { post(std::move(task)); }

void SerialQueue::schedule(std::chrono::steady_clock::time_point when, Scheduled entry) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    scheduled_.emplace(when, std::move(entry));
  }
  wake_.notify_one();
}

void SerialQueue::asyncAfter(Duration delay, Task task) {
  schedule(std::chrono::steady_clock::now() + delay, Scheduled{std::move(task), Duration::zero(), nullptr});
}

SerialQueue::Timer SerialQueue::scheduleRepeating(Duration interval, Task task) {
  return scheduleRepeating(interval, interval, std::move(task));
}

SerialQueue::Timer SerialQueue::scheduleRepeating(Duration interval, Duration firstDelay, Task task) {
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  if (interval <= Duration::zero()) interval = std::chrono::milliseconds(1);
  schedule(std::chrono::steady_clock::now() + firstDelay, Scheduled{std::move(task), interval, cancelled});
  return Timer(cancelled);
}

void SerialQueue::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    // Timers that are due run before newer plain tasks so that a busy queue cannot
    // starve them.
    if (!scheduled_.empty() && scheduled_.begin()->first <= now) {
      auto node = scheduled_.extract(scheduled_.begin());
      Scheduled entry = std::move(node.mapped());
      if (entry.cancelled && entry.cancelled->load()) continue;
      lock.unlock();
      entry.task();
      lock.lock();
      if (entry.interval > Duration::zero() && !stopping_ && !(entry.cancelled && entry.cancelled->load())) {
        // Fixed-rate schedule; a run that overran skips the missed ticks instead of
        // firing them back to back.
        auto next = node.key() + entry.interval;
        auto after = std::chrono::steady_clock::now();
        while (next <= after) next += entry.interval;
        scheduled_.emplace(next, std::move(entry));
      }
      continue;
    }
    if (!tasks_.empty()) {
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
      continue;
    }
    if (stopping_) break;
    if (scheduled_.empty()) {
      wake_.wait(lock);
    } else {
      wake_.wait_until(lock, scheduled_.begin()->first);
    }
  }
  scheduled_.clear();
}

}  // namespace tolvane
