#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

namespace tolvane {

// An ordered task queue served by one thread of its own: tasks run one at a time, in
// the order they were posted, and timers fire on the same thread, so state owned by a
// queue needs no further locking as long as it is touched only from the queue's tasks.
//
// Thread-safe: every method may be called from any thread.
class SerialQueue {
 public:
  using Task = std::function<void()>;
  using Duration = std::chrono::steady_clock::duration;

  // A repeating timer. Cancelling it (or destroying the handle) guarantees the task
  // does not start again; a run already in progress finishes.
  class Timer {
   public:
    Timer() = default;
    ~Timer() { cancel(); }
    Timer(Timer&&) noexcept = default;
    Timer& operator=(Timer&& other) noexcept {
      cancel();
      cancelled_ = std::move(other.cancelled_);
      return *this;
    }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void cancel() {
      if (cancelled_) cancelled_->store(true);
    }
    bool isActive() const { return cancelled_ && !cancelled_->load(); }

   private:
    friend class SerialQueue;
    explicit Timer(std::shared_ptr<std::atomic<bool>> cancelled) : cancelled_(std::move(cancelled)) {}
    std::shared_ptr<std::atomic<bool>> cancelled_;
  };

  explicit SerialQueue(std::string label);
  // Stops the queue: tasks already posted still run, pending timers are dropped. May run
  // on the queue's own thread (a task releasing the last owner of the queue): the thread
  // then finishes those tasks after the queue object is gone.
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& label() const { return label_; }

  // Posts a task. After `shutdown()` the task is dropped.
  void async(Task task);
  // Posts a task that runs no earlier than `delay` from now.
  void asyncAfter(Duration delay, Task task);
  // Runs `task` every `interval`, first after `interval` (or after `firstDelay` when given).
  [[nodiscard]] Timer scheduleRepeating(Duration interval, Task task);
  [[nodiscard]] Timer scheduleRepeating(Duration interval, Duration firstDelay, Task task);

  // Runs `fn` on the queue and waits for its result; exceptions propagate to the caller.
  // Called from the queue's own thread it runs inline, so it cannot deadlock on itself.
  template <typename Fn>
  auto sync(Fn&& fn) -> std::invoke_result_t<Fn&> {
    using Result = std::invoke_result_t<Fn&>;
    if (isCurrent()) return fn();
    std::packaged_task<Result()> packaged(std::forward<Fn>(fn));
    auto future = packaged.get_future();
    auto shared = std::make_shared<std::packaged_task<Result()>>(std::move(packaged));
    if (!post([shared] { (*shared)(); })) throw std::runtime_error("serial queue " + label_ + " is shut down");
    return future.get();
  }

  // True when called from a task or timer of this queue.
  bool isCurrent() const { return std::this_thread::get_id() == threadID_; }

  // Refuses new tasks, runs what is already posted, then stops the thread. Returns once
  // the thread has stopped; called from one of the queue's own tasks it cannot wait for
  // itself and returns at once (the thread stops after that task). Safe to call from
  // several threads at once, and again.
  void shutdown();

 private:
  struct Scheduled {
    Task task;
    Duration interval{};  // zero for one-shot entries
    std::shared_ptr<std::atomic<bool>> cancelled;
  };
  // Everything the thread touches. The thread holds its own reference, so it can run
  // the last tasks safely after the queue object was destroyed from one of them.
  struct Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Task> tasks;
    std::multimap<std::chrono::steady_clock::time_point, Scheduled> scheduled;
    bool stopping = false;
  };

  bool post(Task task);
  void schedule(std::chrono::steady_clock::time_point when, Scheduled entry);
  void requestStop();
  static void run(Shared& shared);

  std::string label_;
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::mutex joinMutex_;  // one caller joins the thread; the others wait for it
  std::thread thread_;    // guarded by joinMutex_ after construction
  std::thread::id threadID_;
};

}  // namespace tolvane
