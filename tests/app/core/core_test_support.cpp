#include "tests/app/core/core_test_support.h"

#include <QThread>

namespace tolvane::testing {

QCoreApplication& application() {
  static int argc = 1;
  static char name[] = "core_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

bool processEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  application();
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(5);
  }
  return true;
}

}  // namespace tolvane::testing
