#pragma once

#include <QCoreApplication>
#include <chrono>
#include <functional>

namespace tolvane::testing {

// The one application object of the test program (the model's objects need its event
// loop and its thread).
QCoreApplication& application();

// Runs the event loop until `done` holds, or fails the test after `deadline` (a guard
// against hangs only: nothing waits on a time of its own).
bool processEventsUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds deadline = std::chrono::seconds(30));

}  // namespace tolvane::testing

#include <QString>
#include <ostream>

// Failure messages show text, not UTF-16 code units.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
