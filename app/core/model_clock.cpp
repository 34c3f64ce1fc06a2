#include "app/core/model_clock.h"

#include <QTimer>
#include <chrono>
#include <cmath>

namespace tolvane {
namespace {

class SystemModelClock final : public ModelClock {
 public:
  double now() const override {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  }
  void schedule(double seconds, std::function<void()> task) override {
    const auto milliseconds = static_cast<int>(std::lround(std::max(0.0, seconds) * 1000.0));
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, std::move(task));
  }
};

}  // namespace

std::shared_ptr<ModelClock> makeSystemModelClock() { return std::make_shared<SystemModelClock>(); }

}  // namespace tolvane
