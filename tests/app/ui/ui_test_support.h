#pragma once

#include <QGuiApplication>
#include <string>

#include "tests/app/desktop_test_env.h"

namespace tolvane::testing {

// The test program's one GUI application, on a private Xvfb display (started on first use,
// stopped by PID when the program ends), with the software Qt Quick renderer, the Basic
// controls style, DejaVu Sans and settings kept in a private directory.
QGuiApplication& guiApplication();
// The display the application runs on, ":N".
const std::string& testDisplayName();

}  // namespace tolvane::testing
