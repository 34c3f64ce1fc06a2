#pragma once

#include <functional>
#include <memory>
#include <mutex>

namespace tolvane {

// Keeps tasks that an owner posted to an Executor from running once the owner is gone.
// A wrapped task runs only while the owner lives, and end() (called first thing by the
// owner's destructor) waits for a wrapped task that is running on another thread, so
// the owner's members are never touched during or after its destruction.
class LifetimeGuard {
 public:
  struct State {
    std::recursive_mutex mutex;
    bool alive = true;
  };

  // What a poster keeps: wraps tasks without needing the guard (or its owner) alive.
  class Token {
   public:
    // `task`, to run only while the owner lives.
    std::function<void()> wrap(std::function<void()> task) const {
      return [state = state_, run = std::move(task)] {
        // Recursive: a task may itself destroy the owner.
        std::lock_guard lock(state->mutex);
        if (state->alive) run();
      };
    }

   private:
    friend class LifetimeGuard;
    explicit Token(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
  };

  LifetimeGuard() = default;
  ~LifetimeGuard() { end(); }
  LifetimeGuard(const LifetimeGuard&) = delete;
  LifetimeGuard& operator=(const LifetimeGuard&) = delete;

  Token token() const { return Token(state_); }
  std::function<void()> wrap(std::function<void()> task) const { return token().wrap(std::move(task)); }

  // Runs `fn` while no wrapped task runs (for state the tasks read).
  template <typename Fn>
  void locked(Fn&& fn) {
    std::lock_guard lock(state_->mutex);
    fn();
  }

  // From now on wrapped tasks do nothing; waits for one that is running elsewhere.
  void end() {
    std::lock_guard lock(state_->mutex);
    state_->alive = false;
  }

 private:
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace tolvane
