#include "app/core/gui_thread_executor.h"

#include <QMetaObject>

namespace tolvane {

GuiThreadExecutor::GuiThreadExecutor(QObject* context) : context_(context) {}

void GuiThreadExecutor::post(std::function<void()> task) {
  QObject* context = context_.data();
  if (context == nullptr) {
    return;
  }
  // Always queued, even from the context's own thread: a poster may hold locks.
  QMetaObject::invokeMethod(context, std::move(task), Qt::QueuedConnection);
}

}  // namespace tolvane
