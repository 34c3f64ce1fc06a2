#include "app/shell/quit_coordinator.h"

#include <QPointer>

#include "app/core/model_clock.h"

namespace tolvane {

QuitCoordinator::QuitCoordinator(ModelClock& clock, Hooks hooks, QObject* parent)
    : QObject(parent), clock_(clock), hooks_(std::move(hooks)) {}

QuitCoordinator::~QuitCoordinator() = default;

void QuitCoordinator::requestQuit() {
  if (pending_) return;
  if (!hooks_.phase().isCapturing()) {
    hooks_.quit();
    return;
  }
  log_.info("quit requested mid-recording — closing the file first");
  pending_ = true;
  quitAfterGrace();
}

QCoro::Task<> QuitCoordinator::quitAfterGrace() {
  QPointer<QuitCoordinator> self(this);
  // Starts the normal finish; the grace gives it the time to write the file's end.
  hooks_.stopRecording();
  auto grace = clock_.sleep(kGraceSec);
  co_await grace;
  if (!self) co_return;
  self->hooks_.quit();
}

}  // namespace tolvane
