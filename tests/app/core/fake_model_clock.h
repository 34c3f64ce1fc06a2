#pragma once

#include <map>
#include <utility>

#include "app/core/model_clock.h"

namespace tolvane {

// A clock that moves only when the test says so; tasks run in due order, each seeing
// now() at its own due time.
class FakeModelClock final : public ModelClock {
 public:
  double now() const override { return now_; }
  void schedule(double seconds, std::function<void()> task) override {
    due_.emplace(std::make_pair(now_ + std::max(0.0, seconds), next_++), std::move(task));
  }
  void advance(double seconds) {
    const double until = now_ + seconds;
    while (!due_.empty() && due_.begin()->first.first <= until) {
      auto node = due_.extract(due_.begin());
      now_ = node.key().first;
      node.mapped()();
    }
    now_ = until;
  }
  std::size_t pending() const { return due_.size(); }

 private:
  double now_ = 1000.0;
  long next_ = 0;
  std::map<std::pair<double, long>, std::function<void()>> due_;
};

}  // namespace tolvane
