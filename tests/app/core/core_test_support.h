#pragma once

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <functional>

namespace tolvane::testing {

// The one application object of the test program (the model's objects need its event
// loop and its thread).
QCoreApplication& application();

// Runs the event loop of the application that exists until `done` holds; false after
// `deadline` (a guard against hangs only: nothing waits on a time of its own).
inline bool runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(5);
  }
  return true;
}

// The same on the test program's own QCoreApplication, made if need be.
bool processEventsUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds deadline = std::chrono::seconds(30));

}  // namespace tolvane::testing

#include <QString>
#include <ostream>

// Failure messages show text, not UTF-16 code units.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
