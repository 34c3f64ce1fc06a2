#pragma once

#include <mutex>
#include <utility>

namespace tolvane {

// Data that can only be reached while its mutex is held.
//
//   Guarded<State> state_;
//   state_.with([](State& s) { ++s.count; });
//   auto locked = state_.lock(); locked->count = 0;
template <typename T, typename Mutex = std::mutex>
class Guarded {
 public:
  template <typename... Args>
  explicit Guarded(Args&&... args) : value_(std::forward<Args>(args)...) {}

  class Locked {
   public:
    Locked(T& value, Mutex& mutex) : lock_(mutex), value_(value) {}
    T* operator->() { return &value_; }
    T& operator*() { return value_; }

   private:
    std::unique_lock<Mutex> lock_;
    T& value_;
  };

  Locked lock() { return Locked(value_, mutex_); }

  template <typename Fn>
  decltype(auto) with(Fn&& fn) {
    std::lock_guard lock(mutex_);
    return std::forward<Fn>(fn)(value_);
  }

 private:
  Mutex mutex_;
  T value_;
};

}  // namespace tolvane
