#pragma once

#include <map>
#include <utility>

#include "app/core/model_clock.h"

namespace tolvane {

// A clock that moves only when the test says so; tasks run in due order, each seeing
// now() at its own due time.
//
// Going away, it runs whatever is still due, so that a coroutine asleep on it ends
// instead of leaking its frame. Keep the clock longer than the model that sleeps on it
// (declare it first): the sleepers must find their model gone, not half destroyed.
class FakeModelClock final : public ModelClock {
 public:
  FakeModelClock() = default;
  FakeModelClock(const FakeModelClock&) = delete;
  FakeModelClock& operator=(const FakeModelClock&) = delete;
  ~FakeModelClock() override {
    while (!due_.empty()) runFirst();
  }

  double now() const override { return now_; }
  void schedule(double seconds, std::function<void()> task) override {
    due_.emplace(std::make_pair(now_ + std::max(0.0, seconds), next_++), std::move(task));
  }
  void advance(double seconds) {
    const double until = now_ + seconds;
    while (!due_.empty() && due_.begin()->first.first <= until) runFirst();
    now_ = until;
  }
  std::size_t pending() const { return due_.size(); }

 private:
  void runFirst() {
    auto node = due_.extract(due_.begin());
    now_ = node.key().first;
    node.mapped()();
  }

  double now_ = 1000.0;
  long next_ = 0;
  std::map<std::pair<double, long>, std::function<void()>> due_;
};

}  // namespace tolvane
