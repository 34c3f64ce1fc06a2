#pragma once

#include <QObject>
#include <QPointer>

#include "app/services/executor.h"

namespace tolvane {

// Runs the services' callbacks on the thread of `context` (the GUI thread in the
// application), queued behind the events already waiting there. Tasks posted after the
// context is destroyed are dropped: nothing may touch a model that is gone.
class GuiThreadExecutor final : public Executor {
 public:
  explicit GuiThreadExecutor(QObject* context);
  void post(std::function<void()> task) override;

 private:
  QPointer<QObject> context_;
};

}  // namespace tolvane
