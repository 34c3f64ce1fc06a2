#pragma once

#include <coroutine>
#include <functional>
#include <memory>

namespace tolvane {

// The model's sense of time: its countdown, elapsed-time tick, disk watch and holds all
// ask this clock, so that tests run them on a fake one instead of waiting.
class ModelClock {
 public:
  virtual ~ModelClock() = default;

  // Seconds on a monotonic clock; only differences mean anything.
  virtual double now() const = 0;
  // Runs `task` on the calling thread's event loop once `seconds` have passed.
  virtual void schedule(double seconds, std::function<void()> task) = 0;

  // `co_await clock.sleep(s)` inside a QCoro task. The coroutine always resumes, so a
  // task must re-check whatever it holds weakly (a QPointer to the model) after each
  // sleep and end when it is gone. A task must not hold the clock itself (a shared
  // pointer copy) across a sleep: the clock holds the sleeper, so neither would ever go.
  struct Sleep {
    ModelClock& clock;
    double seconds;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) {
      clock.schedule(seconds, [handle] { handle.resume(); });
    }
    void await_resume() const noexcept {}
  };
  Sleep sleep(double seconds) { return Sleep{*this, seconds}; }
};

// The production clock: steady_clock and QTimer.
std::shared_ptr<ModelClock> makeSystemModelClock();

}  // namespace tolvane
