#include "tests/app/core/core_test_support.h"

#include <QElapsedTimer>
#include <QThread>

namespace tolvane::testing {

QCoreApplication& coreApplication() {
  static int argc = 1;
  static char name[] = "core_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

bool processEventsUntil(const std::function<bool()>& done, double deadlineSeconds) {
  coreApplication();
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > deadlineSeconds * 1000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

}  // namespace tolvane::testing
