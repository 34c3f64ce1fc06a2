#include "kit/base/serial_queue.h"

#include <pthread.h>

namespace tolvane {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
  std::promise<std::thread::id> started;
  auto startedFuture = started.get_future();
  // Linux thread names are limited to 15 characters; keep the most specific tail.
  std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
  thread_ = std::thread([shared = shared_, name = std::move(name), &started] {
    pthread_setname_np(pthread_self(), name.c_str());
    started.set_value(std::this_thread::get_id());
    run(*shared);
  });
  threadID_ = startedFuture.get();
}

SerialQueue::~SerialQueue() {
  if (isCurrent()) {
    // Destroyed by one of its own tasks: the thread cannot be joined from itself. It
    // keeps `shared_` alive and leaves once what is posted has run.
    requestStop();
    std::lock_guard lock(joinMutex_);
    if (thread_.joinable()) thread_.detach();
    return;
  }
  shutdown();
}

void SerialQueue::requestStop() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
  }
  shared_->wake.notify_all();
}

void SerialQueue::shutdown() {
  requestStop();
  // The thread leaves its loop once the current task returns; the destructor or another
  // caller joins it.
  if (isCurrent()) return;
  std::lock_guard lock(joinMutex_);
  if (thread_.joinable()) thread_.join();
}

bool SerialQueue::post(Task task) {
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->stopping) return false;
    shared_->tasks.push_back(std::move(task));
  }
  shared_->wake.notify_one();
  return true;
}

void SerialQueue::async(Task task) { post(std::move(task)); }

void SerialQueue::schedule(std::chrono::steady_clock::time_point when, Scheduled entry) {
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->stopping) return;
    shared_->scheduled.emplace(when, std::move(entry));
  }
  shared_->wake.notify_one();
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

void SerialQueue::run(Shared& shared) {
  std::unique_lock lock(shared.mutex);
  // Tasks are destroyed outside the lock: what a task captured may own this queue, and
  // its destructor then stops the queue, which takes the lock.
  const auto releaseUnlocked = [&lock](auto& owner) {
    lock.unlock();
    owner = {};
    lock.lock();
  };
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    // Timers that are due run before newer plain tasks so that a busy queue cannot
    // starve them.
    if (!shared.scheduled.empty() && shared.scheduled.begin()->first <= now) {
      auto node = shared.scheduled.extract(shared.scheduled.begin());
      Scheduled& entry = node.mapped();
      const auto isCancelled = [&entry] { return entry.cancelled && entry.cancelled->load(); };
      if (!isCancelled()) {
        lock.unlock();
        entry.task();
        lock.lock();
      }
      if (entry.interval == Duration::zero() || isCancelled() || shared.stopping) {
        releaseUnlocked(node);
        continue;
      }
      // Fixed-rate schedule; a run that overran skips the missed ticks instead of
      // firing them back to back.
      auto next = node.key() + entry.interval;
      const auto after = std::chrono::steady_clock::now();
      while (next <= after) next += entry.interval;
      node.key() = next;
      shared.scheduled.insert(std::move(node));
      continue;
    }
    if (!shared.tasks.empty()) {
      Task task = std::move(shared.tasks.front());
      shared.tasks.pop_front();
      lock.unlock();
      task();
      task = nullptr;
      lock.lock();
      continue;
    }
    if (shared.stopping) break;
    if (shared.scheduled.empty()) {
      shared.wake.wait(lock);
    } else {
      shared.wake.wait_until(lock, shared.scheduled.begin()->first);
    }
  }
  auto dropped = std::move(shared.scheduled);
  releaseUnlocked(dropped);
}

}  // namespace tolvane
