#pragma once

#include <QCoreApplication>
#include <functional>

namespace tolvane::testing {

// The one application object of the core tests (the model needs an event loop).
QCoreApplication& coreApplication();

// Runs the event loop until `done` holds; false when it still does not after a generous
// deadline (a guard against hanging, never a measure of speed).
bool processEventsUntil(const std::function<bool()>& done, double deadlineSeconds = 30);

}  // namespace tolvane::testing
